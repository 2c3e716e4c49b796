#include "tools/options.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "text/code_pages.h"
#include "tools/commands.h"

Option FlagOption(const char* name, bool* flag) {
    return Option{name, false, [flag](const char*) {
                      *flag = true;
                      return std::string();
                  }};
}

Option TextOption(const char* name, std::string* target) {
    return Option{name, true, [target](const char* value) {
                      *target = value;
                      return std::string();
                  }};
}

Option FileOption(const char* name, std::string* target) {
    return Option{name, true, [name, target](const char* value) {
                      if (!*value) return std::string(name) + " needs a file name";
                      *target = value;
                      return std::string();
                  }};
}

Option ListOption(const char* name, std::vector<std::string>* targets) {
    return Option{name, true, [name, targets](const char* value) {
                      if (!*value) return std::string(name) + " needs a value";
                      targets->push_back(value);
                      return std::string();
                  }};
}

Option NumberOption(const char* name, long low, long high, long* target) {
    return Option{name, true, [=](const char* value) {
                      char* end = nullptr;
                      errno = 0;
                      const long n = strtol(value, &end, 10);
                      if (errno || end == value || *end || n < low || n > high)
                          return std::string(name) + " needs " + std::to_string(low) + ".." +
                                 std::to_string(high);
                      *target = n;
                      return std::string();
                  }};
}

bool ParseSize(const char* text, uint64_t* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = strtoull(text, &end, 10);
    if (errno || end == text || text[0] == '-') return false;
    uint64_t scale = 1;
    if (*end == 'k' || *end == 'K') scale = 1u << 10, ++end;
    else if (*end == 'm' || *end == 'M') scale = 1u << 20, ++end;
    else if (*end == 'g' || *end == 'G') scale = 1u << 30, ++end;
    if (*end) return false;
    if (n > UINT64_MAX / scale) return false;
    *value = n * scale;
    return true;
}

Option SizeOption(const char* name, uint64_t* target) {
    return Option{name, true, [name, target](const char* value) {
                      uint64_t n;
                      if (!ParseSize(value, &n) || n == 0)
                          return std::string(name) + " takes a size above 0: bytes, or with K, M or G";
                      *target = n;
                      return std::string();
                  }};
}

Option CodePageOption(int* target) {
    return Option{"--codepage", true, [target](const char* value) {
                      char* end = nullptr;
                      errno = 0;
                      const long n = strtol(value, &end, 10);
                      if (errno || end == value || *end || n <= 0 || n >= 65536 ||
                          !IsSupportedCodePage((int)n)) {
                          return std::string("--codepage ") + value +
                                 ": not a supported code page (supported: " + SupportedCodePages() + ")";
                      }
                      *target = (int)n;
                      return std::string();
                  }};
}

std::optional<int> ParseCommandLine(const CommandLine& line, int argc, char** argv,
                                    std::vector<std::string>* operands) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (optionsEnded || a[0] != '-' || a[1] == 0) {
            if (operands->size() >= line.MostOperands) return UnexpectedArgument(line.Command, a);
            operands->push_back(a);
            continue;
        }
        if (!strcmp(a, "--")) {
            optionsEnded = true;
            continue;
        }
        if (!strcmp(a, "-h") || !strcmp(a, "--help")) {
            fputs(line.Usage, stdout);
            return kExitSuccess;
        }
        const Option* option = nullptr;
        for (const Option& o : line.Options) {
            if (!strcmp(a, o.Name)) option = &o;
        }
        if (option == nullptr) return UnexpectedArgument(line.Command, a);
        const char* value = nullptr;
        if (option->TakesValue) {
            if (i + 1 >= argc) return UsageError(line.Command, std::string(a) + " needs a value");
            value = argv[++i];
        }
        const std::string problem = option->Apply(value);
        if (!problem.empty()) return UsageError(line.Command, problem);
    }
    return std::nullopt;
}
