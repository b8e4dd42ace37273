// crossbar: PORTS sources of WIDTH bits (LFSRs) switched onto PORTS registered
// outputs, each output choosing its source with a counter of its own. Every
// source fans out to every output's multiplexer tree: a design dominated by
// long, high-fanout connections rather than by logic.
module crossbar #(parameter PORTS = 8, parameter WIDTH = 16, parameter SEL = $clog2(PORTS)) (
    input clk,
    input [3:0] step,
    output reg [7:0] watch
);
    reg [WIDTH-1:0] source [0:PORTS-1];
    reg [SEL-1:0] choice [0:PORTS-1];
    reg [WIDTH-1:0] sink [0:PORTS-1];
    integer p;
    always @(posedge clk) begin
        for (p = 0; p < PORTS; p = p + 1) begin
            source[p] <= {source[p][WIDTH-2:0], source[p][WIDTH-1] ^ source[p][WIDTH/2] ^ source[p][1]};
            choice[p] <= choice[p] + step[p % 4] + 1'b1;
            sink[p] <= source[choice[p]] ^ {sink[p][0], sink[p][WIDTH-1:1]};
        end
    end
    initial
        for (p = 0; p < PORTS; p = p + 1) begin
            source[p] = 16'h1c3b * (p + 1);
            choice[p] = p;
        end

    // Every bit of every sink reaches the outputs, so none is optimized away.
    reg [7:0] folded;
    integer b;
    always @(posedge clk) begin
        folded = 8'd0;
        for (p = 0; p < PORTS; p = p + 1)
            for (b = 0; b < WIDTH; b = b + 1)
                folded[(b + p) % 8] = folded[(b + p) % 8] ^ sink[p][b];
        watch <= folded;
    end
endmodule
