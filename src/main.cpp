#include <string>
#include <vector>

#include "startup/program.h"

int main(int argc, char** argv) {
    return quorvanti::startup::quorvantiMain(std::vector<std::string>(argv + 1, argv + argc));
}
