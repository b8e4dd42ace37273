// A 16 x 4 memory, written on the clock and read at once, mapped into flip-flops and multiplexers.
module memory(input clk, input we, input [3:0] wa, input [3:0] ra, input [3:0] d, output [3:0] q);
    reg [3:0] m [0:15];
    always @(posedge clk) if (we) m[wa] <= d;
    assign q = m[ra];
endmodule
