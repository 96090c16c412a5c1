// The symbol table's slots follow its probe rules exactly (the order of the
// end-of-compilation messages depends on them), whatever index speeds up
// the lookups: a plain model of the rules is checked against the table on
// many names that share parts, collide and fill the local part.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "script/symbols.h"

namespace talven::script {
namespace {

// The rules, slot by slot: start at the name's hash, walk to the first free
// slot or to a stored name whose part before its first '.' is the name.
class ModelTable {
 public:
  ModelTable() : names_(kSymbolSlots), used_(kSymbolSlots, false) {}

  int probe(const std::string& name, bool local, bool& found) const {
    auto h = static_cast<std::uint32_t>(symbol_hash(name));
    int base = local ? kGlobalSlots : 0, count = local ? kLocalSlots : kGlobalSlots;
    int first = local ? base + static_cast<int>(h & 1023u) : static_cast<int>(h % kGlobalSlots);
    for (int slot = first;;) {
      if (!used_[slot]) {
        found = false;
        return slot;
      }
      if (matches(names_[slot], name)) {
        found = true;
        return slot;
      }
      slot = slot + 1 == base + count ? base : slot + 1;
      if (slot == first) return -2;  // full
    }
  }
  void put(int slot, const std::string& name) {
    names_[slot] = name;
    used_[slot] = true;
  }
  void clear_locals() {
    for (int s = kGlobalSlots; s < kSymbolSlots; ++s) used_[s] = false;
  }

 private:
  static bool matches(const std::string& stored, const std::string& name) {
    std::string part = stored.substr(0, stored.find('.'));
    return name.find('.') == std::string::npos && part == name;
  }
  std::vector<std::string> names_;
  std::vector<bool> used_;
};

// A name from a small alphabet, so that parts are shared and hashes collide;
// some carry a ".suffix" like the names the compiler decorates.
std::string random_name(std::mt19937& rng) {
  static const char kChars[] = "abfnx019_";
  std::string s(1 + rng() % 4, 'a');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  if (rng() % 4 == 0) s += "." + std::to_string(rng() % 5);
  return s;
}

TEST(SymbolIndex, LookupsAndPlacesFollowTheProbeRules) {
  std::mt19937 rng(12345);
  SymbolTable table;
  ModelTable model;
  for (int round = 0; round < 6; ++round) {
    for (int step = 0; step < 3000; ++step) {
      std::string name = random_name(rng);
      bool local = rng() % 3 == 0;
      bool found = false;
      int expect = model.probe(name, local, found);
      ASSERT_NE(expect, -2);
      ASSERT_EQ(table.find(name, local), found ? expect : -1) << name << " local " << local;
      if (!found) {
        ASSERT_EQ(table.add(name, local, kSymGlobalVar, 0, 0), expect) << name;
        model.put(expect, name);
        ASSERT_STREQ(table.name(expect), name.c_str());
      }
    }
    // A function ends: its names go, the globals stay.
    table.clear_locals();
    model.clear_locals();
    for (int step = 0; step < 200; ++step) {
      std::string name = random_name(rng);
      bool found = false;
      int expect = model.probe(name, true, found);
      ASSERT_EQ(table.find(name, true), found ? expect : -1) << name;
      ASSERT_FALSE(found);
    }
  }
}

TEST(SymbolIndex, FullPartsAndRepeatedNamesAreErrors) {
  SymbolTable table;
  auto error_of = [](auto&& f) {
    try {
      f();
    } catch (const CompileError& e) {
      return e.number;
    }
    return -1;
  };
  for (int i = 0; i < kLocalSlots; ++i)
    table.add("v" + std::to_string(i), true, kSymLocalVar, 0, 0);
  EXPECT_EQ(table.find("v17", true), table.lookup("v17"));
  EXPECT_GE(table.find("v1023", true), kGlobalSlots);
  // A full part: a missing name has nowhere to stop, a new one nowhere to go.
  EXPECT_EQ(error_of([&] { table.find("missing", true); }), cerr::kLocalsFull);
  EXPECT_EQ(error_of([&] { table.add("more", true, kSymLocalVar, 0, 0); }), cerr::kLocalsFull);
  EXPECT_EQ(error_of([&] { table.add("v5", true, kSymLocalVar, 0, 0); }), cerr::kInternal);
  table.clear_locals();
  EXPECT_EQ(table.find("v5", true), -1);
  EXPECT_GE(table.add("more", true, kSymLocalVar, 0, 0), kGlobalSlots);

  // A stored "x.1" answers for "x"; a dotted name is never found.
  int dotted = table.add("x.1", false, kSymTag, 0, 0);
  EXPECT_EQ(table.find("x", false), dotted);
  EXPECT_EQ(error_of([&] { table.add("x", false, kSymGlobalVar, 0, 0); }), cerr::kInternal);
  EXPECT_EQ(table.find("x.1", false), -1);
  EXPECT_EQ(table.find(std::string_view("x\0", 2), false), -1);

  for (int i = 1; i < kGlobalSlots; ++i)
    table.add("g" + std::to_string(i), false, kSymGlobalVar, 0, 0);
  EXPECT_EQ(error_of([&] { table.find("none", false); }), cerr::kGlobalsFull);
  EXPECT_EQ(table.find("g7167", false) >= 0, true);
  table.reset();
  EXPECT_EQ(table.find("g7167", false), -1);
  EXPECT_EQ(table.find("x", false), -1);
}

}  // namespace
}  // namespace talven::script
