# What the importer reads from a yosys JSON netlist before placing it: its top module, its cells and ports.
import json

from .flow import IMPORT_ERROR

# The cells the generic architecture implements (nextpnr's generic packer packs LUT and DFF into
# slices and inserts I/O buffers itself).
GENERIC_CELLS = ("LUT", "DFF", "GENERIC_IOB", "GENERIC_SLICE")

# Cells of yosys that synthesis for the generic architecture can leave, by the start of their
# type: what each is, and why the device cannot build it.
_UNBUILDABLE = (
    ("$_DLATCH", "a latch", "its flip-flops take a clock edge"),
    ("$_SR_", "a set-reset latch", "its flip-flops take a clock edge"),
    ("$_FF_", "a flip-flop without a clock", "its flip-flops take a clock edge"),
    ("$_TBUF_", "a tristate buffer", "its nets have one driver each"),
    ("$", "a yosys cell", "it has LUTs and positive-edge flip-flops only"),
)


def get_several_drivers_error(net):
    """The refusal of a net that more than one cell or input drives."""
    return ("the net %s has more than one driver (a tristate bus, or outputs wired together), which the generic "
            "architecture cannot build: its nets have one driver each" % net)


class NETLIST:
    """The top module of a netlist: `name`, `cells` {name: cell}, `ports`."""

    def __init__(self, path, top, synthesized):
        try:
            with open(path) as text:
                modules = json.load(text)["modules"]
        except (ValueError, KeyError, TypeError):
            raise IMPORT_ERROR("%s is not a yosys JSON netlist." % path)
        marked = [name for name, module in modules.items()
                  if str(module.get("attributes", {}).get("top", "0")).strip("0")]
        names = marked or ([top] if top in modules else []) or [name for name, m in modules.items() if m.get("cells")]
        if len(names) != 1:
            raise IMPORT_ERROR("the netlist %s has no single top module: give --top." % path)
        self.name = names[0]
        module = modules[self.name]
        self.cells = module.get("cells", {})
        self.ports = module.get("ports", {})
        self.net_names = module.get("netnames", {})
        if not self.cells and not self._has_port_to_port():
            if synthesized:
                raise IMPORT_ERROR("the design synthesizes to no cells: nothing in its top module %s drives an "
                                   "output." % (top or self.name))
            raise IMPORT_ERROR("the netlist %s has no cells in its top module %s." % (path, self.name))

    def _has_port_to_port(self):
        """Whether an output is wired to an input or a constant, which places
        I/O cells without any logic."""
        inputs = {bit for port in self.ports.values() if port["direction"] == "input" for bit in port["bits"]}
        return any(bit in inputs or bit in ("0", "1") for port in self.ports.values()
                   if port["direction"] == "output" for bit in port["bits"])

    def get_io_count(self):
        return sum(len(port["bits"]) for port in self.ports.values())

    def get_bit_name(self, bit):
        """The name of the net a bit belongs to, a name the user gave before
        one yosys made up."""
        names = sorted((entry.get("hide_name", 0), name) for name, entry in self.net_names.items()
                       if bit in entry["bits"])
        return names[0][1] if names else str(bit)

    def _get_driven(self, cell):
        """' driving NET' of a cell's first output, '' for no output."""
        outputs = [bits[0] for port, bits in sorted(cell["connections"].items())
                   if cell.get("port_directions", {}).get(port) == "output" and bits]
        return " driving %s" % self.get_bit_name(outputs[0]) if outputs else ""

    def check_generic(self, lut, synthesized, blif):
        """Refuses, with one sentence, a top module that the generic
        architecture cannot build: inout ports, a net of several drivers, a
        cell it does not have, a LUT of more inputs than `lut` (or, in a
        netlist given as it is, of one input, which nextpnr's packer drops).
        `synthesized`: the netlist comes from the importer's own synthesis,
        `blif`: from a BLIF circuit whose LUTs it kept."""
        for name, port in sorted(self.ports.items()):
            if port["direction"] not in ("input", "output"):
                raise ValueError("the top module has the %s port %s, which the generic architecture does not have: "
                                 "its I/O cells are inputs or outputs" % (port["direction"], name))
        drivers = {}
        for name, port in self.ports.items():
            if port["direction"] == "input":
                for bit in port["bits"]:
                    drivers[bit] = drivers.get(bit, 0) + 1
        for name, cell in sorted(self.cells.items()):
            kind = cell["type"]
            if kind not in GENERIC_CELLS:
                if not synthesized:
                    raise ValueError("the netlist has cells of type %s, which the generic architecture does not "
                                     "have: give Verilog sources, a BLIF circuit, or the synth.json of a generic "
                                     "import" % kind)
                if not kind.startswith("$"):
                    raise ValueError("the design instantiates the module %s (cell %s) without its contents: the "
                                     "generic flow places only the logic it synthesizes" % (kind, name))
                what, why = next((what, why) for prefix, what, why in _UNBUILDABLE if kind.startswith(prefix))
                raise ValueError("the design has %s, cell %s of type %s%s, which the generic architecture cannot "
                                 "build: %s" % (what, name, kind, self._get_driven(cell), why))
            if kind == "LUT":
                inputs = int(cell["parameters"].get("K", "0"), 2)
                if inputs > lut:
                    remedy = ("import it with --lut %d or more, or with --resynthesize" % inputs if blif else
                              "import it with --lut %d or more" % inputs)
                    raise ValueError("the %s LUT%s has %d inputs, more than --lut %d: %s" %
                                     ("circuit's" if blif else "netlist's", self._get_driven(cell), inputs, lut,
                                      remedy))
                if len(cell["connections"].get("I", [])) < 2 and not synthesized:
                    raise ValueError("the netlist's LUT%s has one input, which nextpnr-generic's packer leaves "
                                     "unconnected: give its sources instead" % self._get_driven(cell))
            for port, bits in cell["connections"].items():
                if cell["port_directions"].get(port) == "output":
                    for bit in bits:
                        drivers[bit] = drivers.get(bit, 0) + 1
        shared = sorted(bit for bit, count in drivers.items() if count > 1 and bit not in ("0", "1", "x", "z"))
        if shared:
            raise ValueError(get_several_drivers_error(self.get_bit_name(shared[0])))

    def get_generic_slices(self):
        """The slices the generic packer will fill: a LUT and the flip-flop
        that its output alone feeds share one, and each constant value in
        use takes one (nextpnr drives the value from a slice, which it adds
        even when the value feeds LUT inputs only and it leaves those
        unconnected)."""
        loads, lut_outputs, constants = {}, set(), set()
        for port in self.ports.values():
            if port["direction"] != "input":
                for bit in port["bits"]:
                    loads[bit] = loads.get(bit, 0) + 1
                    constants.add(bit)
        for cell in self.cells.values():
            for port, bits in cell["connections"].items():
                if cell["port_directions"].get(port) == "input":
                    for bit in bits:
                        loads[bit] = loads.get(bit, 0) + 1
                    constants.update(bits)
                elif cell["type"] == "LUT":
                    lut_outputs.update(bits)
        count = {kind: 0 for kind in GENERIC_CELLS}
        paired = 0
        for cell in self.cells.values():
            count[cell["type"]] += 1
            if cell["type"] == "DFF":
                bit = cell["connections"]["D"][0]
                paired += bit in lut_outputs and loads.get(bit) == 1
        return (count["LUT"] + count["DFF"] - paired + count["GENERIC_SLICE"] +
                len(constants & {"0", "1"}))

    def get_clock_tiles(self, slices_per_tile):
        """The logic tiles that the flip-flops need at least: a tile holds
        flip-flops of one clock only."""
        per_clock = {}
        for cell in self.cells.values():
            if cell["type"] == "DFF":
                clock = cell["connections"]["CLK"][0]
                per_clock[clock] = per_clock.get(clock, 0) + 1
        return sum(-(-count // slices_per_tile) for count in per_clock.values())
