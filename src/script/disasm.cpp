// The disassembler: one decoder over the shared instruction table.
#include "script/disasm.h"

#include <cstdio>

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

}  // namespace talven::script
