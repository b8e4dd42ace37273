// Unused and undriven nets: an input no logic reads, a wire nothing drives, an output left
// undriven, an input wired straight to two outputs, and a flip-flop whose output goes nowhere.
module unused(input clk, input a, input b, input c, output y, output z, output [1:0] w);
    wire nothing;
    reg lost;
    assign y = a ^ nothing;
    assign w = {b, b};
    always @(posedge clk) lost <= a;
endmodule
