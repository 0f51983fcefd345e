// The target that compiles the tests' shared precompiled header; every test
// executable reuses the header it builds.
int main() {
    return 0;
}
