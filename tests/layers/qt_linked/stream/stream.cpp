int stream_symbol() { return 0; }
