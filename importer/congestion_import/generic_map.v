// Maps yosys's LUTs and legalised flip-flops onto the cells of `congestion-import --arch generic`.
module \$lut (A, Y);
    parameter WIDTH = 0;
    parameter LUT = 0;
    input [WIDTH-1:0] A;
    output Y;
    generate
        // nextpnr names the input of a LUT with one input I, not I[0], and its packer then leaves
        // that input out of the slice: a one-input LUT becomes a two-input one whose second input
        // is unconnected and does not change its output.
        if (WIDTH == 1)
            LUT #(.K(2), .INIT({LUT[1:0], LUT[1:0]})) _TECHMAP_REPLACE_ (.I({1'bx, A}), .Q(Y));
        else
            LUT #(.K(WIDTH), .INIT(LUT)) _TECHMAP_REPLACE_ (.I(A), .Q(Y));
    endgenerate
endmodule

module \$_DFF_P_ (input C, input D, output Q);
    DFF _TECHMAP_REPLACE_ (.CLK(C), .D(D), .Q(Q));
endmodule
