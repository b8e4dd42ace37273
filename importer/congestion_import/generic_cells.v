// The cells of `congestion-import --arch generic` that yosys maps to and nextpnr's generic packer
// packs into slices: a K-input LUT and a positive-edge flip-flop (blackboxes for synthesis).
(* blackbox *)
module LUT #(parameter K = 4, parameter [2**K-1:0] INIT = 0) (input [K-1:0] I, output Q);
endmodule

(* blackbox *)
module DFF (input CLK, input D, output Q);
endmodule
