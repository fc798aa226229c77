// Linked with one layer as a whole archive and the layers below it, so that a
// call from a layer into one above it fails to link.
int main() { return 0; }
