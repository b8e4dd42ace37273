// Flip-flops with enable, synchronous set and reset, asynchronous reset, and on the falling edge.
module flip_flops(input clk, input d, input en, input s, input r,
                  output reg q_en, output reg q_sr, output reg q_ar, output reg q_neg);
    always @(posedge clk) if (en) q_en <= d;
    always @(posedge clk) if (r) q_sr <= 0; else if (s) q_sr <= 1; else q_sr <= d;
    always @(posedge clk or posedge r) if (r) q_ar <= 0; else if (en) q_ar <= d;
    always @(negedge clk) q_neg <= d;
endmodule
