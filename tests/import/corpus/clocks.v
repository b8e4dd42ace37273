// Six clocks from inputs, more than the device's four global wires, and one made by logic.
module clocks(input [5:0] clk, input d, output [6:0] q);
    reg half;
    reg [6:0] r;
    genvar i;
    generate for (i = 0; i < 6; i = i + 1) begin : domain
        always @(posedge clk[i]) r[i] <= d ^ r[(i + 1) % 7];
    end endgenerate
    always @(posedge clk[0]) half <= ~half;
    always @(posedge half) r[6] <= r[0];
    assign q = r;
endmodule
