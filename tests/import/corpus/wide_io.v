// More I/O than logic: 64 inputs reduced four at a time to 16 outputs.
module wide_io(input [63:0] a, output [15:0] y);
    genvar i;
    generate for (i = 0; i < 16; i = i + 1) begin : reduce
        assign y[i] = ^a[4 * i + 3:4 * i];
    end endgenerate
endmodule
