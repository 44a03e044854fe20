// The program entry; the status window arrives with the app library.
int main() { return 1; }
