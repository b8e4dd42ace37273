# Import of designs placed and routed by the open iCE40 flow into design folders.
