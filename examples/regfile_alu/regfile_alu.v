// regfile_alu: a register file of REGS registers of WIDTH bits shared by LANES
// ALU lanes. Each cycle every lane reads two registers, chosen by an
// instruction drawn from an LFSR, into its operand registers; the next cycle
// it adds, subtracts, ANDs or XORs them and writes the result back into one
// register of its own bank (register r belongs to lane r % LANES). Wide read
// multiplexers over the whole file sit beside write-back buses that reach a
// bank: a design of central storage read from everywhere, unlike the
// point-to-point pipelines of the other examples.
module regfile_alu #(parameter REGS = 16, parameter WIDTH = 16, parameter LANES = 2) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    localparam SEL = $clog2(REGS);

    reg [WIDTH-1:0] file [0:REGS-1];
    reg [WIDTH-1:0] opa [0:LANES-1];
    reg [WIDTH-1:0] opb [0:LANES-1];
    reg [1:0] op [0:LANES-1];
    reg [SEL-1:0] dest [0:LANES-1];
    reg [63:0] lfsr = 64'h0123456789abcdef;
    reg [WIDTH-1:0] result [0:LANES-1];
    reg [63:0] instruction;
    integer l, r;

    always @(*)
        for (l = 0; l < LANES; l = l + 1)
            case (op[l])
                2'd0: result[l] = opa[l] + opb[l];
                2'd1: result[l] = opa[l] - opb[l];
                2'd2: result[l] = opa[l] & opb[l];
                default: result[l] = opa[l] ^ opb[l];
            endcase

    always @(posedge clk) begin
        lfsr <= {lfsr[62:0], lfsr[63] ^ lfsr[62] ^ lfsr[60] ^ lfsr[59]} ^ {56'd0, feed};
        for (l = 0; l < LANES; l = l + 1) begin
            instruction = lfsr >> (l * 13 % 48);
            opa[l] <= file[instruction[SEL-1:0]];
            opb[l] <= file[instruction[2*SEL-1:SEL]];
            op[l] <= instruction[2*SEL+1:2*SEL];
            dest[l] <= instruction[3*SEL+1:2*SEL+2];
        end
        for (r = 0; r < REGS; r = r + 1)
            if (dest[r % LANES] == r)
                file[r] <= result[r % LANES];
    end

    // Every lane's operands reach the outputs, so no register is optimized away.
    reg [7:0] folded;
    integer b;
    always @(posedge clk) begin
        folded = 8'd0;
        for (l = 0; l < LANES; l = l + 1)
            for (b = 0; b < WIDTH; b = b + 1)
                folded[(b + l) % 8] = folded[(b + l) % 8] ^ opa[l][b] ^ opb[l][(b + 3) % WIDTH];
        watch <= folded;
    end
endmodule
