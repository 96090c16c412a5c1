// The disassembler: one decoder over the shared instruction table.
#include "script/disasm.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <vector>

#include "script/line_table.h"
#include "script/opcodes.h"

namespace talven::script {

namespace {

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string.
std::string reg(unsigned n) {
  std::string s = "r";
  return s += std::to_string(n);
}

std::string hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string dec(std::uint32_t v) { return std::to_string(static_cast<std::int32_t>(v)); }

std::string bracket(const std::string& inner) {
  std::string s = "[";
  s += inner;
  return s += "]";
}

std::string abs_mem(std::uint32_t a) { return bracket(hex(a)); }

std::string frame_mem(std::uint32_t disp) {
  const auto d = static_cast<std::int32_t>(disp);
  if (d == 0) return "[r6]";
  std::string inner = d > 0 ? "r6+" : "r6";
  return bracket(inner += std::to_string(d));
}

std::string ind_mem(unsigned r) { return bracket(reg(r)); }

// Operand text of a valid instruction, in the style its row of the
// instruction list names.
std::string operands(OperandStyle style, unsigned d, unsigned s, std::uint32_t imm) {
  switch (style) {
    case OperandStyle::None: return "";
    case OperandStyle::Number: return std::to_string(imm);
    case OperandStyle::Imm: return dec(imm);
    case OperandStyle::Target: return hex(imm);
    case OperandStyle::RegReg: return reg(d) + ", " + reg(s);
    case OperandStyle::RegImm: return reg(d) + ", " + dec(imm);
    case OperandStyle::RegAddr: return reg(d) + ", " + hex(imm);
    case OperandStyle::RegAbs: return reg(d) + ", " + abs_mem(imm);
    case OperandStyle::RegFrame: return reg(d) + ", " + frame_mem(imm);
    case OperandStyle::RegInd: return reg(d) + ", " + ind_mem(s);
    case OperandStyle::RegIndImm: return reg(d) + ", " + ind_mem(s) + ", " + dec(imm);
    case OperandStyle::RegByteInd: return reg(d) + ", byte " + ind_mem(s);
    case OperandStyle::RegWordInd: return reg(d) + ", word " + ind_mem(s);
    case OperandStyle::AbsReg: return abs_mem(imm) + ", " + reg(s);
    case OperandStyle::FrameReg: return frame_mem(imm) + ", " + reg(s);
    case OperandStyle::IndReg: return ind_mem(d) + ", " + reg(s);
    case OperandStyle::Src: return reg(s);
    case OperandStyle::Dst: return reg(d);
    case OperandStyle::Abs: return abs_mem(imm);
    case OperandStyle::Frame: return frame_mem(imm);
  }
  return "";
}

DisasmLine data_byte(const std::uint8_t* code, Addr address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "db 0x%02X", code[0]);
  return DisasmLine{address, 1, buf, false};
}

}  // namespace

DisasmLine disassemble_one(const std::uint8_t* code, std::size_t size, Addr address) {
  if (size == 0) return DisasmLine{address, 0, "", false};
  const std::uint8_t op = code[0];
  if (!op_valid(op)) return data_byte(code, address);
  const OpInfo& info = kOpInfo[op];
  const std::size_t len = operand_form_length(info.form);
  if (len > size) return data_byte(code, address);

  unsigned d = 0, s = 0;
  std::uint32_t imm = 0;
  switch (info.form) {
    case OperandForm::None: break;
    case OperandForm::T: imm = get_u16(code + 1); break;
    case OperandForm::R:
      d = reg_d(code[1]);
      s = reg_s(code[1]);
      break;
    case OperandForm::RI:
      d = reg_d(code[1]);
      s = reg_s(code[1]);
      imm = get_u32(code + 2);
      break;
    case OperandForm::I: imm = get_u32(code + 1); break;
  }
  if ((info.form == OperandForm::R || info.form == OperandForm::RI) &&
      (code[1] & kRegByteInvalidMask))
    return data_byte(code, address);

  std::string text = info.mnemonic;
  const std::string ops = operands(info.style, d, s, imm);
  if (!ops.empty()) text += " " + ops;
  return DisasmLine{address, len, text, true};
}

std::string disassemble(const std::uint8_t* code, std::size_t size, Addr origin) {
  std::string out;
  std::size_t pos = 0;
  while (pos < size) {
    const DisasmLine line =
        disassemble_one(code + pos, size - pos, origin + static_cast<Addr>(pos));
    char head[16];
    std::snprintf(head, sizeof head, "%08X  ", line.address);
    out += head;
    std::string raw;
    for (std::size_t i = 0; i < line.length; ++i) {
      char b[4];
      std::snprintf(b, sizeof b, "%02X ", code[pos + i]);
      raw += b;
    }
    raw.resize(19, ' ');  // the longest instruction is six bytes
    out += raw;
    out += line.text;
    out += '\n';
    pos += line.length;
  }
  return out;
}

std::string disassemble_range(Addr address, std::uint32_t size) {
  const std::uint8_t* p = span(address, size);
  if (!p) return "";
  return disassemble(p, size, address);
}

std::string disassemble_with_names(Addr program, std::uint32_t size) {
  const std::uint8_t* code = span(program, size);
  if (!code) return "";
  const std::optional<LineTable> table = line_table_of(program);
  if (!table) return disassemble(code, size, program);

  std::unordered_map<Addr, const CodeFunction*> functions;
  for (const CodeFunction& f : table->functions) functions.emplace(program + f.offset, &f);
  auto line = table->lines.begin();
  int shown_file = -1, shown_line = -1;

  std::string out;
  std::size_t pos = 0;
  while (pos < size) {
    const Addr at = program + static_cast<Addr>(pos);
    const DisasmLine insn = disassemble_one(code + pos, size - pos, at);
    if (auto f = functions.find(at); f != functions.end())
      out +=
          std::string(f->second->builtin ? "; builtin " : "; function ") + f->second->name + "\n";

    std::string text = disassemble(code + pos, insn.length, at);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::vector<std::string> notes;
    // The line that the code from here on came from, noted where it changes.
    while (line != table->lines.end() && std::next(line) != table->lines.end() &&
           std::next(line)->offset <= pos)
      ++line;
    // The file is named where it changes, then only the line.
    if (line != table->lines.end() && line->offset <= pos && line->line > 0 &&
        (line->file != shown_file || line->line != shown_line)) {
      const bool known =
          line->file >= 0 && static_cast<std::size_t>(line->file) < table->files.size();
      if (line->file != shown_file && known)
        notes.push_back(table->files[static_cast<std::size_t>(line->file)] + "(" +
                        std::to_string(line->line) + ")");
      else notes.push_back("line " + std::to_string(line->line));
      shown_file = line->file;
      shown_line = line->line;
    }
    // An operand that is a function's address names the function.
    if (insn.valid) {
      for (std::size_t h = insn.text.find("0x"); h != std::string::npos;
           h = insn.text.find("0x", h + 2)) {
        const Addr target = static_cast<Addr>(std::strtoul(insn.text.c_str() + h + 2, nullptr, 16));
        if (auto f = functions.find(target); f != functions.end() && target != at)
          notes.push_back(f->second->name);
      }
    }
    if (!notes.empty()) {
      if (text.size() < 56) text.resize(56, ' ');
      else text += ' ';
      text += ';';
      for (const std::string& n : notes) text += " " + n;
    }
    out += text;
    out += '\n';
    pos += insn.length;
  }
  return out;
}

}  // namespace talven::script
