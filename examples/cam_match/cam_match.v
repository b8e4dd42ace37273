// cam_match: a content-addressable match array of ENTRIES stored words of
// WIDTH bits. Each cycle an address decoder writes one entry (or none), and a
// search key is compared with every entry at once: per entry an equality
// compare (bitwise XNOR, then an AND tree) into a registered match vector,
// then a priority encoder gives the first matching index and a hit flag,
// registered. The key and the write data are broadcast nets reaching every
// entry, the compare trees stay local to their entry, and the encoder gathers
// one bit from each; the data and the addresses come from an LFSR.
module cam_match #(parameter ENTRIES = 16, parameter WIDTH = 8) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    localparam SEL = $clog2(ENTRIES);

    reg [ENTRIES*WIDTH-1:0] store;
    reg [WIDTH-1:0] key;
    reg [WIDTH-1:0] data;
    reg [SEL-1:0] address;
    reg write;
    reg [ENTRIES-1:0] match;
    reg [SEL-1:0] index;
    reg hit;
    reg [63:0] lfsr = 64'h0f1e2d3c4b5a6978;
    integer e;
    always @(posedge clk) begin
        lfsr <= {lfsr[62:0], lfsr[63] ^ lfsr[62] ^ lfsr[60] ^ lfsr[59]} ^ {56'd0, feed};
        data <= lfsr[WIDTH-1:0];
        key <= lfsr[63:64-WIDTH] ^ data;
        address <= lfsr >> 17;
        write <= lfsr[40];
        for (e = 0; e < ENTRIES; e = e + 1) begin
            if (write && address == e)
                store[e*WIDTH +: WIDTH] <= data;
            match[e] <= &(store[e*WIDTH +: WIDTH] ~^ key);
        end
    end

    // The lowest matching entry wins: scanned from the highest down, so the
    // last assignment is the first match.
    reg [SEL-1:0] first;
    always @(*) begin
        first = {SEL{1'b0}};
        for (e = ENTRIES - 1; e >= 0; e = e - 1)
            if (match[e])
                first = e;
    end

    // The index and the hit flag reach the outputs, so no entry is optimized away.
    reg [7:0] folded;
    integer b;
    always @(posedge clk) begin
        index <= first;
        hit <= |match;
        folded = {7'd0, hit};
        for (b = 0; b < SEL; b = b + 1)
            folded[(b + 1) % 8] = folded[(b + 1) % 8] ^ index[b];
        watch <= folded;
    end
endmodule
