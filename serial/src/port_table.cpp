// Port table.
