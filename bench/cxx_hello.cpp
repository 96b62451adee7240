// The shortest C++ program that prints through the standard library: what any C++ tool's start
// costs, for `flashdesk --version` to be measured against.
#include <iostream>

int main() { std::cout << "hello\n"; }
