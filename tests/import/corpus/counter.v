// An 8-bit counter: its lowest bit is a one-input LUT (an inverter) before a flip-flop.
module counter(input clk, output reg [7:0] q);
    always @(posedge clk) q <= q + 1;
endmodule
