// fir_mac: a systolic FIR filter of TAPS multiply-accumulate stages. The coefficients are
// shifted in at run time, so every stage keeps a full soft multiplier of two WIDTH-bit
// operands and a wide adder: a design of wide datapaths whose connections are mostly short
// and dense, unlike the long ones of lfsr_mesh. Each tap costs about 210 4-input LUTs at
// WIDTH = 8: TAPS = 48 gives about 10 000.
module fir_tap #(parameter WIDTH = 8, parameter ACC = 20) (
    input clk,
    input load,
    input [WIDTH-1:0] coef_in,
    input [WIDTH-1:0] sample_in,
    input [ACC-1:0] acc_in,
    output reg [WIDTH-1:0] coef,
    output reg [WIDTH-1:0] sample,
    output reg [ACC-1:0] acc
);
    reg [WIDTH-1:0] delayed;
    always @(posedge clk) begin
        if (load)
            coef <= coef_in;
        delayed <= sample_in;
        sample <= delayed;
        acc <= acc_in + delayed * coef;
    end
endmodule

module fir_mac #(parameter TAPS = 16, parameter WIDTH = 8) (
    input clk,
    input load,
    input [WIDTH-1:0] coef_in,
    input [WIDTH-1:0] sample_in,
    output reg [7:0] result
);
    localparam ACC = 2 * WIDTH + $clog2(TAPS);
    wire [WIDTH-1:0] coef [0:TAPS];
    wire [WIDTH-1:0] sample [0:TAPS];
    wire [ACC-1:0] acc [0:TAPS];
    assign coef[0] = coef_in;
    assign sample[0] = sample_in;
    assign acc[0] = {ACC{1'b0}};

    genvar i;
    generate
        for (i = 0; i < TAPS; i = i + 1) begin : tap
            fir_tap #(.WIDTH(WIDTH), .ACC(ACC)) stage (
                .clk(clk), .load(load), .coef_in(coef[i]), .sample_in(sample[i]), .acc_in(acc[i]),
                .coef(coef[i + 1]), .sample(sample[i + 1]), .acc(acc[i + 1])
            );
        end
    endgenerate

    // The whole accumulator reaches the outputs folded, so no bit of it is optimized away.
    reg [7:0] folded;
    integer k;
    always @(posedge clk) begin
        folded = 8'd0;
        for (k = 0; k < ACC; k = k + 1)
            folded[k % 8] = folded[k % 8] ^ acc[TAPS][k];
        result <= folded;
    end
endmodule
