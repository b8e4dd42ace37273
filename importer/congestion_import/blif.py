# BLIF circuits: a latch without a clock is given one, an input added to the circuit, so that it becomes a flip-flop.
"""A BLIF `.latch IN OUT [TYPE CONTROL] [INIT]` without TYPE and CONTROL is
clocked by a clock the file does not name (yosys reads it as a flip-flop of
no clock, which no device has). The importer gives all of them one clock,
rising edge, on a new input of the top model, as placement and routing
flows for such circuits do."""

CLOCK_NAME = "latch_clock"
# The latch types of BLIF that have a control signal.
_TYPES = ("re", "fe", "ah", "al", "as")


def _logical_lines(text):
    """The file's lines with continuations (a backslash at the end) joined,
    as lists of words; comments dropped."""
    lines, pending = [], ""
    for line in text.splitlines():
        line = line.split("#", 1)[0]
        if line.rstrip().endswith("\\"):
            pending += line.rstrip()[:-1] + " "
            continue
        lines.append((pending + line).split())
        pending = ""
    if pending:
        lines.append(pending.split())
    return lines


def add_latch_clock(source, target):
    """Writes `source` to `target` with every latch of no clock clocked by a
    new input of the top (first) model; returns that input's name, or None
    (and writes nothing) when every latch has a clock. ValueError with a
    sentence when such a latch is in another model."""
    with open(source) as text:
        lines = _logical_lines(text.read())
    models = [index for index, words in enumerate(lines) if words and words[0] == ".model"]
    clockless = [index for index, words in enumerate(lines)
                 if words and words[0] == ".latch" and (len(words) < 4 or words[3] not in _TYPES)]
    if not clockless:
        return None
    if len(models) > 1 and clockless[-1] > models[1]:
        raise ValueError("the latch %s of no clock is in the model %s, not in the top model %s: only the top "
                         "model's latches can be given a clock" %
                         (lines[clockless[-1]][2], lines[[m for m in models if m < clockless[-1]][-1]][1],
                          lines[models[0]][1]))
    words = {word for line in lines for word in line}
    clock = CLOCK_NAME
    while clock in words:
        clock += "_"
    for index in clockless:
        latch = lines[index]
        lines[index] = latch[:3] + ["re", clock] + latch[3:]
    inputs = next(index for index, words in enumerate(lines) if words and words[0] in (".inputs", ".outputs",
                                                                                        ".names", ".latch"))
    lines.insert(inputs, [".inputs", clock])
    with open(target, "w") as out:
        out.writelines(" ".join(line) + "\n" for line in lines)
    return clock
