# What the importer reads from a yosys JSON netlist before placing it: its top module, its cells and ports.
import json

from .flow import IMPORT_ERROR

# The cells the generic architecture implements (nextpnr's generic packer packs LUT and DFF into
# slices and inserts I/O buffers itself).
GENERIC_CELLS = ("LUT", "DFF", "GENERIC_IOB", "GENERIC_SLICE")


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
        if not self.cells:
            if synthesized:
                raise IMPORT_ERROR("the design synthesizes to no cells: nothing in its top module %s drives an "
                                   "output." % (top or self.name))
            raise IMPORT_ERROR("the netlist %s has no cells in its top module %s." % (path, self.name))

    def get_io_count(self):
        return sum(len(port["bits"]) for port in self.ports.values())

    def get_generic_slices(self, lut):
        """The slices the generic packer will fill: a LUT and the flip-flop
        that its output alone feeds share one. ValueError with a sentence for
        a cell the architecture does not have."""
        loads, lut_outputs = {}, set()
        for port in self.ports.values():
            if port["direction"] != "input":
                for bit in port["bits"]:
                    loads[bit] = loads.get(bit, 0) + 1
        for cell in self.cells.values():
            kind = cell["type"]
            if kind not in GENERIC_CELLS:
                raise ValueError("the netlist has cells of type %s, which the generic architecture does not have: "
                                 "give Verilog sources, or the synth.json of a generic import" % kind)
            if kind == "LUT" and int(cell["parameters"].get("K", "100"), 2) > lut:
                raise ValueError("the netlist has LUTs of more inputs than --lut %d" % lut)
            for port, bits in cell["connections"].items():
                if cell["port_directions"].get(port) == "input":
                    for bit in bits:
                        loads[bit] = loads.get(bit, 0) + 1
                elif kind == "LUT":
                    lut_outputs.update(bits)
        count = {kind: 0 for kind in GENERIC_CELLS}
        paired = 0
        for cell in self.cells.values():
            count[cell["type"]] += 1
            if cell["type"] == "DFF":
                bit = cell["connections"]["D"][0]
                paired += bit in lut_outputs and loads.get(bit) == 1
        return count["LUT"] + count["DFF"] - paired + count["GENERIC_SLICE"]
