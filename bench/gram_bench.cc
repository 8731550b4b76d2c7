// JᵀJ of a 4000 × 400 Jacobian (the whole matrix at N = 20): the blocked
// vector kernel on one and two threads, the one-entry-at-a-time reference
// and Eigen's symmetric rank update, in the same run. The counter gflops
// counts the n·q·(q + 1)/2 multiplications and as many additions of the
// lower triangle; the label names the instruction set.
#include <benchmark/benchmark.h>

#include <Eigen/Core>
#include <random>
#include <vector>

#include "fit/gram.h"

namespace {

constexpr std::size_t kRows = 4000;
constexpr int kColumns = 400;

const std::vector<double>& jacobian() {
  static const std::vector<double> J = [] {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(kRows * kColumns);
    for (double& x : v) x = u(rng);
    return v;
  }();
  return J;
}

void count(benchmark::State& state) {
  const double flops = 2.0 * kRows * kColumns * (kColumns + 1) / 2.0;
  state.counters["gflops"] =
      benchmark::Counter(flops * 1e-9 * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void GramKernel(benchmark::State& state) {
  identify::Gram gram(kColumns, {identify::VectorIsa::kAvx512,
                                 static_cast<int>(state.range(0))});
  Eigen::MatrixXd N;
  for (auto _ : state) {
    gram.compute(jacobian().data(), kRows, N);
    benchmark::DoNotOptimize(N.data());
  }
  count(state);
  state.SetLabel(identify::best_vector_isa() == identify::VectorIsa::kAvx512
                     ? "AVX-512"
                     : "narrower than AVX-512");
}

void GramPlain(benchmark::State& state) {
  Eigen::MatrixXd N;
  for (auto _ : state) {
    identify::gram_plain(jacobian().data(), kRows, kColumns, N);
    benchmark::DoNotOptimize(N.data());
  }
  count(state);
}

void GramEigen(benchmark::State& state) {
  using RowMajor =
      Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  const Eigen::Map<const RowMajor> J(jacobian().data(), kRows, kColumns);
  Eigen::MatrixXd N;
  for (auto _ : state) {
    N.setZero(kColumns, kColumns);
    N.selfadjointView<Eigen::Lower>().rankUpdate(J.transpose());
    benchmark::DoNotOptimize(N.data());
  }
  count(state);
}

BENCHMARK(GramKernel)
    ->Name("Gram/kernel")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(GramPlain)->Name("Gram/plain")->Unit(benchmark::kMillisecond);
BENCHMARK(GramEigen)
    ->Name("Gram/eigen_rank_update")
    ->Unit(benchmark::kMillisecond);

}  // namespace
