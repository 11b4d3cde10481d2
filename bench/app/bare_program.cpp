// A bare process: starts and ends at once. The soak benchmark times its start
// as the unit of its speed figures, measured in the same run.
int main() { return 0; }
