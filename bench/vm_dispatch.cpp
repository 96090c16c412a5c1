// Interpreter throughput.
//
// BM_DispatchLoop runs a tight loop of typical instructions (frame loads and
// stores, add, cmp, a conditional jump, call/ret) and reports instructions
// per second. BM_Fib and BM_Sieve run the two programs that bench/vm_vs_lua.sh
// compares against lua5.4; `bench_vm_dispatch run fib N` and
// `bench_vm_dispatch run sieve N REPEAT` run one of them once and print its
// result and time, for that script.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"

using namespace talven;
using namespace talven::script;

namespace {

constexpr std::int32_t kProgramSize = 64 * 1024;
constexpr std::int32_t kStackSize = 256 * 1024;

// A context set up like a scheduled function: an argument word and the
// return address that finishes it.
VmContext* new_context() {
  VmContext* ctx = vm_create(kProgramSize, kStackSize);
  if (!ctx) std::abort();
  ctx->r[7] -= 8;
  store32(ctx->r[7], kReturnFinish);
  return ctx;
}

// Runs slices until the context stops; the number of slices.
std::uint64_t run_to_end(VmContext* ctx) {
  std::uint64_t slices = 0;
  while (ctx->state == kVmRunning && !vm_stop_flag.is_set()) {
    vm_run(ctx);
    ++slices;
  }
  if (ctx->state != kVmFinished) {
    std::fprintf(stderr, "program stopped with state %d\n", ctx->state);
    std::abort();
  }
  return slices;
}

// Body of the dispatch loop: 8 instructions per iteration (the call's ret
// included), plus 3 before the loop and 2 after.
constexpr std::uint64_t kLoopBody = 8;

void build_dispatch_loop(VmContext* ctx, std::uint32_t iterations) {
  VmAsm a(ctx->program);
  auto fn = a.label(), loop = a.label(), start = a.label();
  a.jmp(start);
  a.bind(fn);
  a.ret();
  a.bind(start);
  a.mov(6, 7);  // a frame on the stack
  a.movi(1, 0);
  a.bind(loop);
  a.load_frame(2, 4);   // load
  a.add(2, 1);          // add
  a.store_frame(4, 2);  // store
  a.addi(1, 1);
  a.call(fn);             // call + ret
  a.cmpi(1, iterations);  // cmp
  a.jl(loop);             // conditional jump
  a.nop();
  a.ret();
  a.load();
}

void build_fib(VmContext* ctx, std::uint32_t n) {
  VmAsm a(ctx->program);
  auto fib = a.label(), small = a.label(), start = a.label();
  a.jmp(start);
  a.bind(fib);  // int fib(int n)
  a.enter(0);
  a.load_frame(1, 8);
  a.cmpi(1, 2);
  a.jl(small);
  a.mov(2, 1);
  a.subi(2, 1);
  a.push(2);
  a.call(fib);
  a.drop_args(1);
  a.mov(3, 0);
  a.subi(1, 2);
  a.push(1);
  a.call(fib);
  a.drop_args(1);
  a.add(0, 3u);
  a.leave(0);
  a.ret();
  a.bind(small);
  a.mov(0, 1);
  a.leave(0);
  a.ret();
  a.bind(start);
  a.push_imm(n);
  a.call(fib);
  a.drop_args(1);
  a.ret();
  a.load();
}

// Counts the primes up to n with a byte sieve, `repeat` times; r0 = count.
void build_sieve(VmContext* ctx, Addr array, std::uint32_t n, std::uint32_t repeat) {
  const auto root = static_cast<std::uint32_t>(std::sqrt(static_cast<double>(n)));
  VmAsm a(ctx->program);
  auto outer = a.label(), init = a.label(), loop_i = a.label(), loop_j = a.label(),
       next_i = a.label(), done = a.label();
  a.movi(5, repeat);
  a.bind(outer);
  a.movi(1, 0);
  a.movi(4, 1);
  a.bind(init);  // flags[0..n] = 1
  a.movi(3, array);
  a.add(3, 1);
  a.r(OP_MOVB_IND, 3, 4);
  a.addi(1, 1);
  a.cmpi(1, n + 1);
  a.jl(init);
  a.movi(0, 0);
  a.movi(1, 2);
  a.bind(loop_i);
  a.cmpi(1, n);
  a.jg(done);
  a.movi(3, array);
  a.add(3, 1);
  a.r(OP_MOVBL_IND, 4, 3);
  a.cmpi(4, 0);
  a.je(next_i);
  a.addi(0, 1);  // a prime
  a.cmpi(1, root);
  a.jg(next_i);
  a.mov(2, 1);
  a.r(OP_MUL, 2, 1);  // j = i * i
  a.movi(4, 0);
  a.bind(loop_j);
  a.cmpi(2, n);
  a.jg(next_i);
  a.movi(3, array);
  a.add(3, 2);
  a.r(OP_MOVB_IND, 3, 4);
  a.add(2, 1);
  a.jmp(loop_j);
  a.bind(next_i);
  a.addi(1, 1);
  a.jmp(loop_i);
  a.bind(done);
  a.subi(5, 1);
  a.jne(outer);
  a.ret();
  a.load();
}

void BM_DispatchLoop(benchmark::State& state) {
  const auto iterations = static_cast<std::uint32_t>(state.range(0));
  VmContext* ctx = new_context();
  const Addr sp = ctx->r[7];
  build_dispatch_loop(ctx, iterations);
  for (auto _ : state) {
    ctx->state = kVmRunning;
    ctx->pc = ctx->program;
    ctx->r[7] = sp;
    run_to_end(ctx);
  }
  const std::uint64_t per_run = kLoopBody * iterations + 5;
  state.SetItemsProcessed(static_cast<std::int64_t>(per_run * state.iterations()));
  state.counters["instr/s"] = benchmark::Counter(static_cast<double>(per_run * state.iterations()),
                                                 benchmark::Counter::kIsRate);
  vm_free(ctx);
}
BENCHMARK(BM_DispatchLoop)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Fib(benchmark::State& state) {
  VmContext* ctx = new_context();
  const Addr sp = ctx->r[7];
  build_fib(ctx, static_cast<std::uint32_t>(state.range(0)));
  for (auto _ : state) {
    ctx->state = kVmRunning;
    ctx->pc = ctx->program;
    ctx->r[7] = sp;
    run_to_end(ctx);
    benchmark::DoNotOptimize(ctx->r[0]);
  }
  vm_free(ctx);
}
BENCHMARK(BM_Fib)->Arg(25)->Unit(benchmark::kMillisecond);

void BM_Sieve(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  VmContext* ctx = new_context();
  const Addr sp = ctx->r[7];
  const Addr array = script_zalloc(n + 1);
  build_sieve(ctx, array, n, 1);
  for (auto _ : state) {
    ctx->state = kVmRunning;
    ctx->pc = ctx->program;
    ctx->r[7] = sp;
    run_to_end(ctx);
    benchmark::DoNotOptimize(ctx->r[0]);
  }
  script_free(array);
  vm_free(ctx);
}
BENCHMARK(BM_Sieve)->Arg(1000000)->Unit(benchmark::kMillisecond);

// One timed run for the comparison script: prints "result seconds".
int run_once(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s run fib N | run sieve N REPEAT\n", argv[0]);
    return 2;
  }
  const char* which = argv[2];
  const auto n = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  VmContext* ctx = new_context();
  Addr array = 0;
  if (std::strcmp(which, "fib") == 0) {
    build_fib(ctx, n);
  } else if (std::strcmp(which, "sieve") == 0) {
    const auto repeat =
        argc > 4 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1;
    array = script_zalloc(n + 1);
    build_sieve(ctx, array, n, repeat);
  } else {
    std::fprintf(stderr, "unknown program %s\n", which);
    return 2;
  }
  const auto t0 = std::chrono::steady_clock::now();
  run_to_end(ctx);
  const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
  std::printf("%u %.3f\n", ctx->r[0], dt.count());
  if (array) script_free(array);
  vm_free(ctx);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "run") == 0) return run_once(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
