// ABI checks against the list of exports in exports.txt:
//   abi_check exports <nm> <shared library> <exports.txt>
//     the library's defined dynamic symbols are exactly the listed
//     functions, no more and no fewer;
//   abi_check docs <tpsubm.h> <src dir> <exports.txt>
//     the header declares exactly the listed functions, each once and after
//     a comment of its own (or of the group of declarations it belongs to),
//     and the sources define each exactly once.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

// One TPSUBM_API declaration or definition found in a text.
struct Api {
  std::string name;
  size_t start;  // of "TPSUBM_API"
  size_t end;    // of the ";" or "{" that ends its signature
  bool definition;
};

// Every "TPSUBM_API ... tpsubm_name(...)" followed by ";" or "{", in order;
// the macro's own definitions (preprocessor lines) are skipped.
std::vector<Api> find_api(const std::string &text) {
  std::vector<Api> found;
  const std::string marker = "TPSUBM_API";
  for (size_t pos = text.find(marker); pos != std::string::npos;
       pos = text.find(marker, pos + marker.size())) {
    size_t line = text.rfind('\n', pos);
    line = line == std::string::npos ? 0 : line + 1;
    if (text.find('#', line) < pos) continue;
    size_t paren = text.find('(', pos);
    size_t end = text.find_first_of(";{", pos);
    if (paren == std::string::npos || end == std::string::npos || paren > end) continue;
    size_t name_end = paren;
    while (name_end > pos && std::isspace(static_cast<unsigned char>(text[name_end - 1])))
      --name_end;
    size_t name_start = name_end;
    while (name_start > pos && (std::isalnum(static_cast<unsigned char>(text[name_start - 1])) ||
                                text[name_start - 1] == '_')) {
      --name_start;
    }
    std::string name = text.substr(name_start, name_end - name_start);
    if (name.rfind("tpsubm_", 0) != 0) continue;
    found.push_back({name, pos, end, text[end] == '{'});
  }
  return found;
}

// Whether declaration i has a comment block of its own, or is one of a group
// of declarations on consecutive lines (no blank line between) that the
// comment above the group documents.
bool documented(const std::string &header, const std::vector<Api> &decls, size_t i) {
  size_t at = decls[i].start;
  for (;;) {
    size_t end = header.find_last_not_of(" \t\r\n", at == 0 ? 0 : at - 1);
    if (end == std::string::npos || at == 0) return false;
    const auto gap_lines = std::count(header.begin() + static_cast<ptrdiff_t>(end),
                                      header.begin() + static_cast<ptrdiff_t>(at), '\n');
    if (i > 0 && gap_lines == 1 && !decls[i - 1].definition && decls[i - 1].end == end) {
      --i;
      at = decls[i].start;
      continue;
    }
    if (end < 1 || header.compare(end - 1, 2, "*/") != 0) return false;
    size_t open = header.rfind("/*", end - 1);
    if (open == std::string::npos) return false;
    std::string comment = header.substr(open + 2, end - 1 - (open + 2));
    // A section banner is no documentation of a function.
    if (comment.find("====") != std::string::npos) return false;
    return comment.find_first_not_of(" \t\r\n*") != std::string::npos;
  }
}

int check_docs(const char *header_path, const char *src_dir,
               const std::set<std::string> &expected) {
  const std::string header = read_file(header_path);
  std::vector<Api> decls;
  for (const Api &a : find_api(header)) {
    if (!a.definition) decls.push_back(a);
  }
  std::map<std::string, int> declared;
  for (size_t i = 0; i < decls.size(); ++i) {
    ++declared[decls[i].name];
    if (!documented(header, decls, i)) fail("declared without documentation: " + decls[i].name);
  }
  std::map<std::string, int> defined;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(src_dir)) {
    if (entry.path().extension() != ".cpp") continue;
    for (const Api &a : find_api(read_file(entry.path()))) {
      if (a.definition) ++defined[a.name];
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
