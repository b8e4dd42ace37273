// mult_array: LANES unsigned array multipliers of WIDTH x WIDTH bits, written
// out as AND partial products summed by rows of ripple-carry adders (row i
// adds the partial products of multiplier bit i, shifted i places, to the
// running sum), with registered operands and products. Every operand bit
// drives a row or a diagonal of WIDTH partial products, and each adder cell
// reads its neighbours in the row above: a design of short, diagonal nets of
// medium fanout. The operands are shift registers stirred by an LFSR.
module mult_array #(parameter LANES = 2, parameter WIDTH = 8) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    reg [WIDTH-1:0] a [0:LANES-1];
    reg [WIDTH-1:0] b [0:LANES-1];
    reg [2*WIDTH-1:0] product [0:LANES-1];
    reg [31:0] lfsr = 32'h5eed1e55;

    // The running sum of the rows done so far, without the product bits
    // already final below it: WIDTH bits and the carry out of the last row.
    reg [WIDTH:0] sum [0:LANES-1];
    reg [2*WIDTH-1:0] full [0:LANES-1];
    reg carry, partial;
    integer l, i, j;
    always @(*)
        for (l = 0; l < LANES; l = l + 1) begin
            for (j = 0; j < WIDTH; j = j + 1)
                sum[l][j] = a[l][j] & b[l][0];
            sum[l][WIDTH] = 1'b0;
            full[l] = {2*WIDTH{1'b0}};
            full[l][0] = sum[l][0];
            for (i = 1; i < WIDTH; i = i + 1) begin
                carry = 1'b0;
                for (j = 0; j < WIDTH; j = j + 1) begin
                    partial = a[l][j] & b[l][i];
                    sum[l][j] = sum[l][j + 1] ^ partial ^ carry;
                    carry = (sum[l][j + 1] & partial) | (carry & (sum[l][j + 1] ^ partial));
                end
                sum[l][WIDTH] = carry;
                full[l][i] = sum[l][0];
            end
            for (j = 1; j <= WIDTH; j = j + 1)
                full[l][WIDTH - 1 + j] = sum[l][j];
        end

    always @(posedge clk) begin
        lfsr <= {lfsr[30:0], lfsr[31] ^ lfsr[21] ^ lfsr[1] ^ lfsr[0]} ^ {24'd0, feed};
        for (l = 0; l < LANES; l = l + 1) begin
            a[l] <= {a[l][WIDTH-2:0], a[l][WIDTH-1] ^ lfsr[(2 * l) % 32]};
            b[l] <= {b[l][WIDTH-2:0], b[l][WIDTH-1] ^ lfsr[(2 * l + 1) % 32]};
            product[l] <= full[l];
        end
    end

    // Every bit of every lane's product reaches the outputs, so none is optimized away.
    reg [7:0] folded;
    integer k;
    always @(posedge clk) begin
        folded = 8'd0;
        for (l = 0; l < LANES; l = l + 1)
            for (k = 0; k < 2 * WIDTH; k = k + 1)
                folded[(k + l) % 8] = folded[(k + l) % 8] ^ product[l][k];
        watch <= folded;
    end
endmodule
