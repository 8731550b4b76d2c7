// JᵀJ by blocks. N(i, j) = Σ_k J(k, i)·J(k, j), k ascending from 0.0. The
// rows of J are taken kRowsPerBlock at a time; a block is copied into
// panels of P consecutive columns (rows of P doubles, zero beyond q), so
// that a tile of the lower triangle, P entries i (C vectors of W lanes) by R
// entries j, reads two sequential streams: per row k it loads the P values
// J(k, i) once and broadcasts the R values J(k, j), and each lane adds the
// rounded product J(k, j)·J(k, i) to its own running sum, which stays in a
// register through the block and in memory between blocks. Each sum thus
// sees the same additions in the same order as the reference loop, whatever
// the vector width, the tile shape or the thread that owns the entry. The
// second thread takes the last panels of rows i; the split balances the
// triangle's area (panel p has p + 1 panels of entries).
#include "fit/gram.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace identify {

namespace {

constexpr int kRowsPerBlock = 256;
constexpr int kMaxPanel = 16;  // every panel width divides it

template <int W>
struct VecOf {
  typedef double type __attribute__((vector_size(8 * W)));
};

// Unaligned vector load and store. The vector goes by reference: a vector
// passed by value would change the calling convention between the targets.
template <class V>
[[gnu::always_inline]] inline void load(V& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

std::size_t padded(int q) {
  return static_cast<std::size_t>((q + kMaxPanel - 1) / kMaxPanel * kMaxPanel);
}

// What one thread does: rows i in panels [first, last), every block of J.
struct Work {
  const double* J = nullptr;
  std::size_t n = 0;
  int q = 0;
  double* sums = nullptr;  // ld × ld, column-major
  std::size_t ld = 0;
  double* pack = nullptr;  // kRowsPerBlock × (last·P)
  int first = 0;
  int last = 0;
};

// Rows [k0, k0 + rows) of the columns of panels [0, panels) into panels of
// P doubles a row.
void pack_block(const Work& w, int P, std::size_t k0, int rows, int panels) {
  for (int p = 0; p < panels; ++p) {
    const int c0 = p * P;
    const int width = std::min(P, w.q - c0);
    double* out = w.pack + static_cast<std::size_t>(p) * rows * P;
    for (int k = 0; k < rows; ++k, out += P) {
      const double* in = w.J + (k0 + k) * static_cast<std::size_t>(w.q) + c0;
      std::memcpy(out, in, sizeof(double) * width);
      std::fill(out + width, out + P, 0.0);
    }
  }
}

// The tile whose sums start at `sums` (entry (i0, j0), leading dimension
// ld) over one block: ip holds J(k, i0 ..) and jp J(k, j0 ..), P a row.
template <int W, int C, int R>
[[gnu::always_inline]] inline void tile(const double* ip, const double* jp,
                                        int rows, double* sums,
                                        std::size_t ld) {
  using V = typename VecOf<W>::type;
  constexpr int P = W * C;
  V acc[R][C];
  for (int r = 0; r < R; ++r) {
    for (int c = 0; c < C; ++c) load(acc[r][c], sums + r * ld + c * W);
  }
  for (int k = 0; k < rows; ++k, ip += P, jp += P) {
    V x[C];
    for (int c = 0; c < C; ++c) load(x[c], ip + c * W);
    for (int r = 0; r < R; ++r) {
      const double b = jp[r];
      for (int c = 0; c < C; ++c) acc[r][c] = acc[r][c] + b * x[c];
    }
  }
  for (int r = 0; r < R; ++r) {
    for (int c = 0; c < C; ++c) store(sums + r * ld + c * W, acc[r][c]);
  }
}

template <int W, int C, int R>
[[gnu::always_inline]] inline void run(const Work& w) {
  constexpr int P = W * C;
  static_assert(kMaxPanel % P == 0 && P % R == 0);
  for (std::size_t k0 = 0; k0 < w.n; k0 += kRowsPerBlock) {
    const int rows =
        static_cast<int>(std::min<std::size_t>(kRowsPerBlock, w.n - k0));
    const int panels = std::min(w.last * (kMaxPanel / P), (w.q + P - 1) / P);
    pack_block(w, P, k0, rows, panels);
    const std::size_t panel_size = static_cast<std::size_t>(rows) * P;
    for (int p = w.first * (kMaxPanel / P); p < panels; ++p) {
      const double* ip = w.pack + p * panel_size;
      const int j_end = std::min(w.q, (p + 1) * P);
      for (int j0 = 0; j0 < j_end; j0 += R) {
        const double* jp = w.pack + (j0 / P) * panel_size + j0 % P;
        tile<W, C, R>(ip, jp, rows, w.sums + j0 * w.ld + p * P, w.ld);
      }
    }
  }
}

// One entry point per instruction set; the bodies are the same source.
[[gnu::target("avx512f")]] void run_avx512(const Work& w) { run<8, 2, 8>(w); }
[[gnu::target("avx2")]] void run_avx2(const Work& w) { run<4, 2, 4>(w); }
void run_baseline(const Work& w) { run<2, 2, 4>(w); }

void run_on(VectorIsa isa, const Work& w) {
  switch (isa) {
    case VectorIsa::kAvx512:
      return run_avx512(w);
    case VectorIsa::kAvx2:
      return run_avx2(w);
    case VectorIsa::kBaseline:
      return run_baseline(w);
  }
}

// The first panel (of kMaxPanel columns) of the second thread: the panels
// before it hold about half of the triangle's entries.
int split_panel(int panels) {
  int split = 0;
  long long before = 0;
  const long long total = static_cast<long long>(panels) * (panels + 1) / 2;
  while (split < panels && 2 * (before + split + 1) <= total) {
    before += ++split;
  }
  return std::max(1, split);
}

}  // namespace

Gram::Gram(int q, const GramOptions& options)
    : q_(q),
      isa_(std::min(options.isa, best_vector_isa())),
      threads_(options.threads) {
  if (threads_ == 0) {
    threads_ =
        q >= kGramThreadColumns && std::thread::hardware_concurrency() >= 2 ? 2
                                                                            : 1;
  }
  threads_ = std::clamp(threads_, 1, 2);
  const std::size_t ld = padded(q);
  sums_.resize(ld * ld);
  for (auto& pack : pack_) pack.resize(kRowsPerBlock * ld);
}

void Gram::compute(const double* J, std::size_t n, Eigen::MatrixXd& normal) {
  normal.resize(q_, q_);
  if (q_ == 0) return;
  const std::size_t ld = padded(q_);
  std::fill(sums_.begin(), sums_.end(), 0.0);
  const int panels = static_cast<int>(ld) / kMaxPanel;
  Work work{J, n, q_, sums_.data(), ld, pack_[0].data(), 0, panels};
  if (threads_ == 2 && panels >= 2) {
    Work second = work;
    second.pack = pack_[1].data();
    work.last = second.first = split_panel(panels);
    std::thread helper([&] { run_on(isa_, second); });
    run_on(isa_, work);
    helper.join();
  } else {
    run_on(isa_, work);
  }
  for (int j = 0; j < q_; ++j) {
    for (int i = j; i < q_; ++i) normal(i, j) = sums_[j * ld + i];
  }
}

void gram_plain(const double* J, std::size_t n, int q,
                Eigen::MatrixXd& normal) {
  normal.resize(q, q);
  const auto stride = static_cast<std::size_t>(q);
  for (int j = 0; j < q; ++j) {
    for (int i = j; i < q; ++i) {
      double s = 0.0;
      for (std::size_t k = 0; k < n; ++k) {
        s = s + J[k * stride + i] * J[k * stride + j];
      }
      normal(i, j) = s;
    }
  }
}

}  // namespace identify
