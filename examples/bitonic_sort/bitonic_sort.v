// bitonic_sort: a pipelined bitonic sorting network of 2**LOG_N keys of WIDTH
// bits, one register stage per column of compare-exchange elements. The keys
// come from a shift register fed by an LFSR. Its butterfly wiring joins keys
// 1, 2, 4, ... N/2 positions apart: wires of every length, in both axes once
// placed.
module bitonic_sort #(parameter LOG_N = 4, parameter WIDTH = 8) (
    input clk,
    input [WIDTH-1:0] feed,
    output reg [7:0] smallest,
    output reg [7:0] largest
);
    localparam N = 1 << LOG_N;
    localparam COLUMNS = LOG_N * (LOG_N + 1) / 2;

    reg [WIDTH-1:0] key [0:COLUMNS][0:N-1];
    reg [15:0] lfsr = 16'hbeef;
    integer i, c, k, j, partner;
    always @(posedge clk) begin
        lfsr <= {lfsr[14:0], lfsr[15] ^ lfsr[13] ^ lfsr[12] ^ lfsr[10]};
        key[0][0] <= lfsr[WIDTH-1:0] ^ feed;
        for (i = 1; i < N; i = i + 1)
            key[0][i] <= key[0][i - 1];
        // Column c compares keys j apart inside blocks of k, ascending where
        // bit k of the index is 0.
        c = 0;
        for (k = 2; k <= N; k = k * 2)
            for (j = k / 2; j > 0; j = j / 2) begin
                for (i = 0; i < N; i = i + 1) begin
                    partner = i ^ j;
                    if (partner > i) begin
                        if ((key[c][i] > key[c][partner]) == ((i & k) == 0)) begin
                            key[c + 1][i] <= key[c][partner];
                            key[c + 1][partner] <= key[c][i];
                        end else begin
                            key[c + 1][i] <= key[c][i];
                            key[c + 1][partner] <= key[c][partner];
                        end
                    end
                end
                c = c + 1;
            end
        smallest <= key[COLUMNS][0][7:0];
        largest <= key[COLUMNS][N - 1][7:0];
    end
endmodule
