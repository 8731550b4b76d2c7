# The twelve subjects of R's datasets::Theoph as the problem file example
# examples/theophylline_12 (problem.yaml and theophylline.csv), and R's nls
# fit of each subject on its own in the same model and parameterisation,
# for comparison with `identify problem.yaml --separately`.
#
# Model (as examples/theophylline_pk, every subject its own experiment with
# its own dose in the gut at t = 0):
#   conc(t) = Dose·ka / (V·(ka − ke)) · (exp(−ke·t) − exp(−ka·t)),
# fitted by unweighted least squares with nls and R's self-starting model
# SSfol (lKe, lKa, lCl = ln(ke·V)), as the published fits are; the
# estimates are printed as ka, ke and V = Cl/ke.
# Run once from the repository root (R is not a build or test dependency):
#   Rscript tools/theophylline_12.R > tools/reference/theophylline_12_nls.txt
options(digits = 7)
theoph <- datasets::Theoph
subjects <- sort(as.integer(as.character(unique(theoph$Subject))))
dir <- "examples/theophylline_12"

csv <- file.path(dir, "theophylline.csv")
con <- file(csv, "w")
cat("# The twelve subjects of Boeckmann, Sheiner & Beal (1994), as in R's\n",
    "# datasets::Theoph: time in hours, serum concentration in mg/L. Written\n",
    "# by tools/theophylline_12.R.\n",
    "experiment,time,concentration\n", sep = "", file = con)
for (s in subjects) {
  d <- theoph[as.integer(as.character(theoph$Subject)) == s, ]
  for (i in seq_len(nrow(d))) {
    cat(sprintf("subject%d,%s,%s\n", s, format(d$Time[i]), format(d$conc[i])),
        file = con)
  }
}
close(con)

yaml <- file.path(dir, "problem.yaml")
con <- file(yaml, "w")
cat("# Theophylline, all twelve subjects (see README.md): one compartment with
# first-order absorption, as examples/theophylline_pk; every subject is an
# experiment with its own oral dose (mg/kg) in the gut at t = 0. Fitted as
# it stands, all subjects share ka, ke and V; with --separately every
# subject gets its own. Written by tools/theophylline_12.R.
states: [gut, central]
parameters:
  ka: {lower: 0.01, upper: 20, scale: log, value: 1}    # absorption, 1/h
  ke: {lower: 0.001, upper: 5, scale: log, value: 0.1}  # elimination, 1/h
  V:  {lower: 0.01, upper: 10, scale: log, value: 0.5}  # volume, L/kg
matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  concentration: {states: {central: 1/V}}
experiments:
", file = con)
for (s in subjects) {
  dose <- theoph$Dose[as.integer(as.character(theoph$Subject)) == s][1]
  cat(sprintf("  - {id: subject%d, x0: {gut: %s}}\n", s, format(dose)),
      file = con)
}
cat("data: theophylline.csv\n", file = con)
close(con)

cat("# Rscript tools/theophylline_12.R >",
    "tools/reference/theophylline_12_nls.txt\n")
cat("#", R.version.string, "\n")
cat("# nls with SSfol per subject; estimates unscaled (V = Cl/ke)\n")
cat("# subject ka ke V sum_of_squares (or the error of nls)\n")
for (s in subjects) {
  d <- theoph[as.integer(as.character(theoph$Subject)) == s, ]
  d <- data.frame(Time = d$Time, conc = d$conc, Dose = d$Dose)
  fit <- tryCatch(nls(conc ~ SSfol(Dose, Time, lKe, lKa, lCl), data = d,
                      control = nls.control(maxiter = 200)),
                  error = function(e) conditionMessage(e))
  if (is.character(fit)) {
    cat(sprintf("subject%d error: %s\n", s, fit))
  } else {
    co <- coef(fit)
    cat(sprintf("subject%d %.10g %.10g %.10g %.10g\n", s, exp(co[["lKa"]]),
                exp(co[["lKe"]]), exp(co[["lCl"]] - co[["lKe"]]),
                deviance(fit)))
  }
}
