int toolkit_symbol() { return 0; }
