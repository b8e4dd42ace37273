// lfsr_mesh: an array of counters and LFSRs, each LFSR stirred by the state of distant
// array members, so that the placed design has many medium and long connections.
module lfsr_unit #(parameter [15:0] SEED = 16'hace1) (
    input clk,
    input [15:0] stir_a,
    input [15:0] stir_b,
    output reg [15:0] state,
    output reg [15:0] count
);
    wire feedback = state[15] ^ state[13] ^ state[12] ^ state[10];
    always @(posedge clk) begin
        count <= count + {15'd0, stir_a[0] | stir_b[1]};
        state <= {state[14:0], feedback} ^ (stir_a & ~stir_b) ^ {count[7:0], count[15:8]};
    end
    initial begin
        state = SEED;
        count = 16'd0;
    end
endmodule

module lfsr_mesh #(parameter UNITS = 18) (
    input clk,
    input [3:0] select,
    output reg [7:0] leds
);
    wire [15:0] state [0:UNITS-1];
    wire [15:0] count [0:UNITS-1];

    genvar i;
    generate
        for (i = 0; i < UNITS; i = i + 1) begin : unit
            lfsr_unit #(.SEED(16'h1234 + 16'h0f3b * i)) member (
                .clk(clk),
                .stir_a(state[(i + 5) % UNITS]),
                .stir_b(count[(i + UNITS / 2 + 1) % UNITS]),
                .state(state[i]),
                .count(count[i])
            );
        end
    endgenerate

    // Every member's state reaches the outputs through a chosen pair, so none is optimized away.
    reg [15:0] folded;
    integer k;
    always @(posedge clk) begin
        folded = 16'd0;
        for (k = 0; k < UNITS; k = k + 1)
            folded = folded ^ (state[k] & {16{k[3:0] != select}});
        leds <= folded[7:0] ^ folded[15:8];
    end
endmodule
