int tools_symbol() { return 0; }
