// Keeps the test support library non-empty when no helpers exist yet.
