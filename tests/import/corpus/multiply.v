// A 6 x 6 multiplier mapped into LUTs.
module multiply(input [5:0] a, input [5:0] b, output [11:0] p);
    assign p = a * b;
endmodule
