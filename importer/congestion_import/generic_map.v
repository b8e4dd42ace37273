// Maps yosys's LUTs and legalised flip-flops onto the cells of `congestion-import --arch generic`.
module \$lut (A, Y);
    parameter WIDTH = 0;
    parameter LUT = 0;
    input [WIDTH-1:0] A;
    output Y;
    LUT #(.K(WIDTH), .INIT(LUT)) _TECHMAP_REPLACE_ (.I(A), .Q(Y));
endmodule

module \$_DFF_P_ (input C, input D, output Q);
    DFF _TECHMAP_REPLACE_ (.CLK(C), .D(D), .Q(Q));
endmodule
