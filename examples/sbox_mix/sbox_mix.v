// sbox_mix: ROUNDS pipelined rounds of a substitution-permutation datapath on
// a WIDTH-bit state (WIDTH a multiple of 4, at least 16). Each round passes
// every 4-bit nibble through a fixed substitution table, then XORs each
// nibble with two neighbours, rotated within the nibble (the next one by one
// bit, the one three places on by two bits), and with a round key: the key
// register rotated by a different amount in every round. The state is
// registered after each round. Every output bit depends on twelve state bits
// spread over three nibbles: irregular random logic whose nets run between
// neighbouring nibbles, and each key bit reaches one place in every round.
// The first state and the key come from an LFSR.
module sbox_mix #(parameter ROUNDS = 4, parameter WIDTH = 32) (
    input clk,
    input [7:0] feed,
    output reg [7:0] watch
);
    localparam NIBBLES = WIDTH / 4;

    // A bijective 4-bit substitution.
    function [3:0] substitute(input [3:0] x);
        case (x)
            4'h0: substitute = 4'h7;
            4'h1: substitute = 4'hd;
            4'h2: substitute = 4'h2;
            4'h3: substitute = 4'h9;
            4'h4: substitute = 4'he;
            4'h5: substitute = 4'h0;
            4'h6: substitute = 4'hb;
            4'h7: substitute = 4'h4;
            4'h8: substitute = 4'h1;
            4'h9: substitute = 4'hc;
            4'ha: substitute = 4'h6;
            4'hb: substitute = 4'hf;
            4'hc: substitute = 4'h8;
            4'hd: substitute = 4'h3;
            4'he: substitute = 4'h5;
            default: substitute = 4'ha;
        endcase
    endfunction

    function [3:0] rotate(input [3:0] x, input integer by);
        rotate = (x << by) | (x >> (4 - by));
    endfunction

    reg [WIDTH-1:0] state [0:ROUNDS];
    reg [WIDTH-1:0] key;
    reg [63:0] lfsr = 64'h3c6ef372a54ff53a;

    reg [WIDTH-1:0] boxed [0:ROUNDS-1];
    reg [WIDTH-1:0] mixed [0:ROUNDS-1];
    reg [WIDTH-1:0] round_key [0:ROUNDS-1];
    integer r, n;
    always @(*)
        for (r = 0; r < ROUNDS; r = r + 1) begin
            for (n = 0; n < NIBBLES; n = n + 1)
                boxed[r][4*n +: 4] = substitute(state[r][4*n +: 4]);
            round_key[r] = (key << ((3 * r + 1) % WIDTH)) | (key >> (WIDTH - (3 * r + 1) % WIDTH));
            for (n = 0; n < NIBBLES; n = n + 1)
                mixed[r][4*n +: 4] = boxed[r][4*n +: 4] ^ rotate(boxed[r][4*((n + 1) % NIBBLES) +: 4], 1) ^
                    rotate(boxed[r][4*((n + 3) % NIBBLES) +: 4], 2) ^ round_key[r][4*n +: 4];
        end

    always @(posedge clk) begin
        lfsr <= {lfsr[62:0], lfsr[63] ^ lfsr[62] ^ lfsr[60] ^ lfsr[59]} ^ {56'd0, feed};
        state[0] <= {state[0][WIDTH-9:0], state[0][WIDTH-1:WIDTH-8] ^ lfsr[7:0]};
        key <= {key[WIDTH-2:0], key[WIDTH-1] ^ lfsr[63]};
        for (r = 0; r < ROUNDS; r = r + 1)
            state[r + 1] <= mixed[r];
    end

    // Every bit of the last state reaches the outputs, so no round is optimized away.
    reg [7:0] folded;
    integer k;
    always @(posedge clk) begin
        folded = 8'd0;
        for (k = 0; k < WIDTH; k = k + 1)
            folded[k % 8] = folded[k % 8] ^ state[ROUNDS][k];
        watch <= folded;
    end
endmodule
