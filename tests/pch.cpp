// Builds the tests' precompiled header; no code of its own.
