#include <cstdio>
int main()
{
    std::fprintf(stderr, "player-sim: not built yet\n");
    return 1;
}
