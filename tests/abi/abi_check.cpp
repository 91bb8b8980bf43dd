// ABI checks against the list of exports in exports.txt:
//   abi_check exports <nm> <shared library> <exports.txt>
//     the library's defined dynamic symbols are exactly the listed
//     functions, no more and no fewer;
//   abi_check docs <tpsubm.h> <src dir> <exports.txt>
//     the header declares exactly the listed functions, each once and after
//     a comment of its own (or of the group of declarations it belongs to),
//     and the sources define each exactly once.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

int g_failures;

void fail(const std::string &what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++g_failures;
}

std::string read_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail("cannot read " + path.string());
    return {};
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> read_exports(const char *path) {
  std::set<std::string> names;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (!names.insert(line).second) fail("listed twice: " + line);
  }
  return names;
}

int check_exports(const char *nm, const char *library, const std::set<std::string> &expected) {
  std::string command = std::string(nm) + " -D --defined-only '" + library + "'";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    fail("cannot run " + command);
    return 1;
  }
  std::map<std::string, char> found;  // name -> symbol type
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::istringstream line(buffer);
    std::string address, type, name;
    if (!(line >> address >> type >> name)) continue;
    name = name.substr(0, name.find('@'));  // a version suffix
    found[name] = type[0];
  }
  if (pclose(pipe) != 0) fail("failed: " + command);
  for (const std::string &name : expected) {
    auto it = found.find(name);
    if (it == found.end()) {
      fail("not exported: " + name);
    } else if (it->second != 'T') {
      fail("exported, but not as a function: " + name);
    }
  }
  for (const auto &entry : found) {
    if (expected.count(entry.first) == 0) fail("exported, but not listed: " + entry.first);
  }
  std::printf("%zu symbols exported, %zu listed\n", found.size(), expected.size());
  return g_failures == 0 ? 0 : 1;
}

// The comment block that documents the declaration starting at `at`: the
// text before it, past the declarations of its group (declarations on the
// lines directly above, with no blank line between).
bool documented(const std::string &header, size_t at) {
  static const std::regex kTrailingDecl(R"(TPSUBM_API[^;/]*;$)");
  std::string before = header.substr(0, at);
  for (;;) {
    size_t end = before.find_last_not_of(" \t\r\n");
    if (end == std::string::npos) return false;
    const bool next_line =
        std::count(before.begin() + static_cast<ptrdiff_t>(end), before.end(), '\n') == 1;
    before.resize(end + 1);
    std::smatch m;
    if (!next_line || !std::regex_search(before, m, kTrailingDecl)) break;
    before.resize(static_cast<size_t>(m.position(0)));
  }
  if (before.size() < 2 || before.compare(before.size() - 2, 2, "*/") != 0) return false;
  size_t open = before.rfind("/*");
  if (open == std::string::npos) return false;
  std::string comment = before.substr(open + 2, before.size() - open - 4);
  // A section banner is no documentation of a function.
  if (comment.find("====") != std::string::npos) return false;
  return comment.find_first_not_of(" \t\r\n*") != std::string::npos;
}

int check_docs(const char *header_path, const char *src_dir,
               const std::set<std::string> &expected) {
  const std::string header = read_file(header_path);
  static const std::regex kDecl(R"(TPSUBM_API\s+[^;{}()]*?\b(tpsubm_\w+)\s*\([^;{}]*\)\s*;)");
  std::map<std::string, int> declared;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), kDecl);
       it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[1];
    ++declared[name];
    if (!documented(header, static_cast<size_t>(it->position(0)))) {
      fail("declared without documentation: " + name);
    }
  }
  std::map<std::string, int> defined;
  static const std::regex kDef(R"(TPSUBM_API\s+[^;{}()]*?\b(tpsubm_\w+)\s*\([^;{}]*\)\s*\{)");
  for (const auto &entry : std::filesystem::recursive_directory_iterator(src_dir)) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string source = read_file(entry.path());
    for (auto it = std::sregex_iterator(source.begin(), source.end(), kDef);
         it != std::sregex_iterator(); ++it) {
      ++defined[(*it)[1]];
    }
  }
  for (const std::string &name : expected) {
    if (declared[name] != 1) fail(name + " declared " + std::to_string(declared[name]) + " times");
    if (defined[name] != 1) fail(name + " defined " + std::to_string(defined[name]) + " times");
  }
  for (const auto &entry : declared) {
    if (expected.count(entry.first) == 0) fail("declared, but not listed: " + entry.first);
  }
  for (const auto &entry : defined) {
    if (expected.count(entry.first) == 0) fail("defined, but not listed: " + entry.first);
  }
  std::printf("%zu declarations, %zu definitions, %zu listed\n", declared.size(), defined.size(),
              expected.size());
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: abi_check exports|docs ARG ARG exports.txt\n");
    return 2;
  }
  const std::set<std::string> expected = read_exports(argv[4]);
  if (expected.empty()) fail("no exports listed");
  const std::string mode = argv[1];
  if (mode == "exports") return check_exports(argv[2], argv[3], expected);
  if (mode == "docs") return check_docs(argv[2], argv[3], expected);
  std::fprintf(stderr, "unknown mode %s\n", argv[1]);
  return 2;
}
