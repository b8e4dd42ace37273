// barrel_rotator: LANES pipelined rotators of WIDTH-bit words. Stage s of a
// lane rotates its word by 2**s places or passes it on, as bit s of the
// lane's amount says, and each stage is registered. A design of two-input
// multiplexers whose inputs lie 1, 2, 4, ... WIDTH/2 bit positions apart, with
// each amount bit broadcast to a whole stage of WIDTH multiplexers; the words
// and the amounts come from an LFSR.
module barrel_rotator #(parameter LANES = 4, parameter WIDTH = 32) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    localparam STAGES = $clog2(WIDTH);

    reg [WIDTH-1:0] word [0:LANES-1][0:STAGES];
    reg [STAGES-1:0] amount [0:LANES-1][0:STAGES];
    reg [31:0] lfsr = 32'h1badb002;
    integer l, s;
    always @(posedge clk) begin
        lfsr <= {lfsr[30:0], lfsr[31] ^ lfsr[21] ^ lfsr[1] ^ lfsr[0]} ^ {24'd0, feed};
        for (l = 0; l < LANES; l = l + 1) begin
            word[l][0] <= {word[l][0][WIDTH-2:0], word[l][0][WIDTH-1] ^ lfsr[l % 32]};
            amount[l][0] <= lfsr >> (l % 27);
            for (s = 0; s < STAGES; s = s + 1) begin
                word[l][s + 1] <= amount[l][s][s] ? (word[l][s] >> (1 << s)) | (word[l][s] << (WIDTH - (1 << s)))
                                                  : word[l][s];
                amount[l][s + 1] <= amount[l][s];
            end
        end
    end

    // Every bit of every lane's last stage reaches the outputs, so none is optimized away.
    reg [7:0] folded;
    integer b;
    always @(posedge clk) begin
        folded = 8'd0;
        for (l = 0; l < LANES; l = l + 1)
            for (b = 0; b < WIDTH; b = b + 1)
                folded[(b + l) % 8] = folded[(b + l) % 8] ^ word[l][STAGES][b];
        watch <= folded;
    end
endmodule
