// Placeholder until the subsystem's tests land.
