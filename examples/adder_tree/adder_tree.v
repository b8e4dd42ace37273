// adder_tree: LANES pipelined multi-operand adders, each summing OPERANDS
// operands (a power of two) of WIDTH bits by a binary tree of explicit
// ripple-carry adders, with a register after every level. The tree is kept as
// a heap: node 1 is the root, nodes OPERANDS .. 2 OPERANDS - 1 are the
// operands, and node i registers the sum of nodes 2i and 2i + 1, one bit wider
// than they are. Pairs of buses converge level by level into ever wider and
// fewer sums, and each adder's carry runs along its bits. The operands are
// shift registers stirred by an LFSR.
module adder_tree #(parameter LANES = 2, parameter OPERANDS = 8, parameter WIDTH = 8) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    localparam LEVELS = $clog2(OPERANDS);
    // The root's width, and the room every node gets in the heap's bus.
    localparam SUM = WIDTH + LEVELS;

    reg [31:0] lfsr = 32'h9e3779b9;
    always @(posedge clk)
        lfsr <= {lfsr[30:0], lfsr[31] ^ lfsr[21] ^ lfsr[1] ^ lfsr[0]} ^ {24'd0, feed};

    wire [LANES*SUM-1:0] total;
    genvar l, i, j;
    generate
        for (l = 0; l < LANES; l = l + 1) begin : lane
            wire [2*OPERANDS*SUM-1:0] node;
            for (i = OPERANDS; i < 2 * OPERANDS; i = i + 1) begin : operand
                reg [WIDTH-1:0] value;
                always @(posedge clk)
                    value <= {value[WIDTH-2:0], value[WIDTH-1] ^ lfsr[(l * OPERANDS + i) % 32]};
                assign node[i*SUM +: SUM] = value;
            end
            for (i = 1; i < OPERANDS; i = i + 1) begin : adder
                // The width of the two nodes added: WIDTH at the operands,
                // one more at each level up.
                localparam IN = WIDTH + LEVELS - $clog2(i + 1);
                wire [IN-1:0] a = node[2*i*SUM +: IN];
                wire [IN-1:0] b = node[(2*i+1)*SUM +: IN];
                wire [IN:0] carry;
                wire [IN-1:0] s;
                assign carry[0] = 1'b0;
                for (j = 0; j < IN; j = j + 1) begin : cell
                    assign s[j] = a[j] ^ b[j] ^ carry[j];
                    assign carry[j + 1] = (a[j] & b[j]) | (carry[j] & (a[j] ^ b[j]));
                end
                reg [IN:0] sum;
                always @(posedge clk)
                    sum <= {carry[IN], s};
                assign node[i*SUM +: SUM] = sum;
            end
            assign node[SUM-1:0] = {SUM{1'b0}};
            assign total[l*SUM +: SUM] = node[SUM +: SUM];
        end
    endgenerate

    // Every bit of every lane's total reaches the outputs, so no adder is optimized away.
    reg [7:0] folded;
    integer k;
    always @(posedge clk) begin
        folded = 8'd0;
        for (k = 0; k < LANES * SUM; k = k + 1)
            folded[k % 8] = folded[k % 8] ^ total[k];
        watch <= folded;
    end
endmodule
