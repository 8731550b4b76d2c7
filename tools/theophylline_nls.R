# Reference fit of examples/theophylline_pk with R's nls: subject 1 of
# datasets::Theoph, one compartment with first-order absorption,
#   conc(t) = Dose·ka / (V·(ka − ke)) · (exp(−ke·t) − exp(−ka·t)),
# unweighted least squares over all eleven samples (the t = 0 one included).
# Three parameterisations, each with estimates, standard errors, the
# residual standard error and the sum of squares:
#   1. SSfol (lKe, lKa, lCl), the published fit;
#   2. natural logs of the problem file's parameters (lKa, lKe, lV), the
#      scale problem.yaml puts them on;
#   3. the parameters themselves (ka, ke, V).
# Run once (R is not a build or test dependency):
#   Rscript tools/theophylline_nls.R > tools/reference/theophylline_nls.txt
options(digits = 7)
s1 <- subset(datasets::Theoph, Subject == 1)
s1 <- data.frame(Time = s1$Time, conc = s1$conc, Dose = s1$Dose)
cat("# Rscript tools/theophylline_nls.R >", 
    "tools/reference/theophylline_nls.txt\n")
cat("#", R.version.string, "\n")
cat("# data (Time, conc), dose", s1$Dose[1], "mg/kg:\n")
for (i in seq_len(nrow(s1))) cat("#  ", s1$Time[i], s1$conc[i], "\n")

report <- function(title, fit) {
  cat("\n==", title, "\n")
  co <- summary(fit)$coefficients
  for (name in rownames(co)) {
    cat(sprintf("%-4s estimate % .8g  std. error %.8g\n", name,
                co[name, "Estimate"], co[name, "Std. Error"]))
  }
  cat(sprintf("residual standard error %.8g on %d degrees of freedom\n",
              sigma(fit), df.residual(fit)))
  cat(sprintf("sum of squares %.8g\n", deviance(fit)))
}

ctl <- nls.control(maxiter = 200)
# The self-start finds initial values with nls' own defaults; the fit is
# then repeated from its result.
start <- coef(nls(conc ~ SSfol(Dose, Time, lKe, lKa, lCl), data = s1))
ssfol <- nls(conc ~ SSfol(Dose, Time, lKe, lKa, lCl), data = s1,
             control = ctl, start = as.list(start))
report("SSfol: lKe, lKa, lCl (natural logs; Cl = ke*V)", ssfol)

p <- coef(ssfol)
logs <- nls(conc ~ Dose * exp(lKa) / (exp(lV) * (exp(lKa) - exp(lKe))) *
              (exp(-exp(lKe) * Time) - exp(-exp(lKa) * Time)),
            data = s1, control = ctl,
            start = list(lKa = p[["lKa"]], lKe = p[["lKe"]],
                         lV = p[["lCl"]] - p[["lKe"]]))
report("problem.yaml on its log scale: lKa = ln ka, lKe = ln ke, lV = ln V",
       logs)

q <- coef(logs)
plain <- nls(conc ~ Dose * ka / (V * (ka - ke)) *
               (exp(-ke * Time) - exp(-ka * Time)),
             data = s1, control = ctl,
             start = list(ka = exp(q[["lKa"]]), ke = exp(q[["lKe"]]),
                          V = exp(q[["lV"]])))
report("problem.yaml's parameters unscaled: ka, ke (1/h), V (L/kg)", plain)
