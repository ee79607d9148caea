// Placeholder until the host entry lands.
int main() { return 0; }
