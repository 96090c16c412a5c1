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

// Operand text of a valid instruction.
std::string operands(std::uint8_t op, unsigned d, unsigned s, std::uint32_t imm) {
  switch (op) {
    case OP_NOP:
    case OP_RET:
      return "";
    case OP_TRAP:
      return std::to_string(imm);
    case OP_MOVL_IMM:
    case OP_CMP_IMM:
    case OP_ADD_IMM:
    case OP_SUB_IMM:
      return reg(d) + ", " + dec(imm);
    case OP_MOVL_ADDR:
      return reg(d) + ", " + hex(imm);
    case OP_MOVBL_ABS: case OP_MOVSBL_ABS: case OP_MOVWL_ABS: case OP_MOVSWL_ABS:
    case OP_MOVL_LOAD_ABS:
      return reg(d) + ", " + abs_mem(imm);
    case OP_LEA:
    case OP_MOVBL_FRAME: case OP_MOVSBL_FRAME: case OP_MOVWL_FRAME: case OP_MOVSWL_FRAME:
    case OP_MOVL_LOAD_FRAME:
      return reg(d) + ", " + frame_mem(imm);
    case OP_MOVBL_IND: case OP_MOVSBL_IND: case OP_MOVWL_IND: case OP_MOVSWL_IND:
    case OP_MOVL_LOAD_IND:
      return reg(d) + ", " + ind_mem(s);
    case OP_MOVB_ABS: case OP_MOVW_ABS: case OP_MOVL_STORE_ABS:
      return abs_mem(imm) + ", " + reg(s);
    case OP_MOVB_FRAME: case OP_MOVW_FRAME: case OP_MOVL_STORE_FRAME:
      return frame_mem(imm) + ", " + reg(s);
    case OP_MOVB_IND: case OP_MOVW_IND: case OP_MOVL_STORE_IND:
      return ind_mem(d) + ", " + reg(s);
    case OP_PUSH:
    case OP_CALL_REG:
      return reg(s);
    case OP_POP:
      return reg(d);
    case OP_PUSH_IMM:
      return dec(imm);
    case OP_ENTER:
    case OP_LEAVE:
      return std::to_string(imm);
    case OP_CALL:
    case OP_JMP: case OP_JE: case OP_JNE: case OP_JG: case OP_JGE: case OP_JL:
    case OP_JLE: case OP_JA: case OP_JAE: case OP_JB: case OP_JBE:
      return hex(imm);
    case OP_PREOP:
    case OP_POSTOP:
      return reg(d) + ", " + ind_mem(s) + ", " + dec(imm);
    case OP_PREINC: case OP_POSTINC: case OP_PREDEC: case OP_POSTDEC:
      return reg(d) + ", byte " + ind_mem(s);
    case OP_PREINC16: case OP_POSTINC16: case OP_PREDEC16: case OP_POSTDEC16:
      return reg(d) + ", word " + ind_mem(s);
    case OP_ZEROB_ABS: case OP_ZEROW_ABS: case OP_ZEROL_ABS:
      return abs_mem(imm);
    case OP_ZEROB_FRAME: case OP_ZEROW_FRAME: case OP_ZEROL_FRAME:
      return frame_mem(imm);
    default:  // two-register forms
      return reg(d) + ", " + reg(s);
  }
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
    case OperandForm::R: d = reg_d(code[1]); s = reg_s(code[1]); break;
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
  const std::string ops = operands(op, d, s, imm);
  if (!ops.empty()) text += " " + ops;
  return DisasmLine{address, len, text, true};
}

std::string disassemble(const std::uint8_t* code, std::size_t size, Addr origin) {
  std::string out;
  std::size_t pos = 0;
  while (pos < size) {
    const DisasmLine line = disassemble_one(code + pos, size - pos, origin + static_cast<Addr>(pos));
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
