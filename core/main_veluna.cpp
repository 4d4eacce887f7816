#include <cstdio>
int main()
{
    std::fprintf(stderr, "veluna: not built yet\n");
    return 1;
}
