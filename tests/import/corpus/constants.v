// Constant drivers: outputs tied to 0 and 1, a flip-flop loading a constant, an inverter to an output.
module constants(input clk, input a, input b, output [4:0] y, output reg q);
    assign y = {1'b1, 1'b0, a & b, ~a, b};
    always @(posedge clk) q <= 1'b1;
endmodule
