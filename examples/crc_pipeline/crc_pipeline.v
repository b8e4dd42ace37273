// crc_pipeline: LANES lanes of 32-bit CRC state, each advanced by a byte per
// pipeline stage over STAGES stages. Every stage takes its byte from the next
// lane's state, so XOR trees of many inputs sit beside short lane-to-lane
// connections; the last stage's lanes are folded into the outputs.
module crc_pipeline #(parameter LANES = 8, parameter STAGES = 4) (
    input clk,
    input [7:0] feed,
    output reg [7:0] digest
);
    // One byte of the reflected CRC-32 (polynomial 0xEDB88320), bit by bit.
    function [31:0] crc_byte(input [31:0] crc, input [7:0] data);
        integer b;
        reg [31:0] c;
        begin
            c = crc ^ {24'd0, data};
            for (b = 0; b < 8; b = b + 1)
                c = c[0] ? (c >> 1) ^ 32'hEDB88320 : c >> 1;
            crc_byte = c;
        end
    endfunction

    reg [31:0] state [0:STAGES][0:LANES-1];
    reg [7:0] source;
    integer s, l;
    always @(posedge clk) begin
        source <= {source[6:0], source[7] ^ source[5] ^ source[4] ^ source[3]} ^ feed;
        for (l = 0; l < LANES; l = l + 1)
            state[0][l] <= crc_byte(state[0][l] ^ {l[7:0], 24'h5a5a5a}, source ^ l[7:0]);
        for (s = 1; s <= STAGES; s = s + 1)
            for (l = 0; l < LANES; l = l + 1)
                state[s][l] <= crc_byte(state[s - 1][l], state[s - 1][(l + 1) % LANES][7 + 8 * (s % 3):8 * (s % 3)]);
    end

    reg [31:0] folded;
    always @(posedge clk) begin
        folded = 32'd0;
        for (l = 0; l < LANES; l = l + 1)
            folded = folded ^ state[STAGES][l];
        digest <= folded[7:0] ^ folded[15:8] ^ folded[23:16] ^ folded[31:24];
    end
endmodule
