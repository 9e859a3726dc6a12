% Pattern-template pairs per second of vendral.mex against an idiomatic
% vectorised Octave implementation of the same classifier, on the same data.
% Usage: octave-cli --no-history --eval "build_dir = 'build'; scale = 0.2; source('bench/octave_compare.m')"
% (scale < 1 takes that fraction of the patterns, for a quick run.)
1;

function labels = parzen_vectorised(T, L, kernel_type, p, h, X, unknown_label)
  % Broadcast distances over blocks of patterns, the kernel, per-class sums.
  [distinct, first] = unique(L, 'first');
  [~, order] = sort(first);
  classes = distinct(order);            % in order of first occurrence
  [~, class_of] = ismember(L, classes);
  onehot = sparse(1:numel(L), class_of, 1, numel(L), numel(classes));
  labels = zeros(rows(X), 1);
  block = max(1, floor(4e6 / rows(T)));
  for first = 1:block:rows(X)
    rows_now = first:min(rows(X), first + block - 1);
    acc = zeros(numel(rows_now), rows(T));
    for i = 1:columns(X)
      difference = abs(X(rows_now, i) - T(:, i)');
      if p == 1
        acc += difference;
      elseif isinf(p)
        acc = max(acc, difference);
      else
        acc += difference .^ p;
      end
    end
    if p ~= 1 && ~isinf(p)
      acc = acc .^ (1 / p);
    end
    u = acc / h;
    switch kernel_type
      case 0
        K = exp(-0.5 * u .^ 2);
      case 1
        v = acc / (2 * h);
        K = (sin(v) ./ v) .^ 2;
        K(v == 0) = 1;
      case 2
        K = exp(-u);
      otherwise
        K = 1 ./ (u .^ 2 + 1);
    end
    scores = full(K * onehot);
    [best, winner] = max(scores, [], 2);
    tie = sum(scores == best, 2) > 1;
    labels(rows_now) = classes(winner);
    labels(rows_now(tie)) = unknown_label;
  end
end

function [T, L, X] = workload_data(N, P, d, classes)
  % Class centres in [0.25, 0.75]^d plus uniform noise in +-0.25.
  rand('seed', 2026);
  centres = 0.25 + 0.5 * rand(classes, d);
  L = mod((0:N-1)', classes) + 1;
  T = centres(L, :) + 0.5 * rand(N, d) - 0.25;
  X = centres(mod((0:P-1)', classes) + 1, :) + 0.5 * rand(P, d) - 0.25;
end

addpath(build_dir);
if ~exist('scale', 'var')
  scale = 1;
end
workloads = {
  'W1 gaussian p=2 d=16',  20000, 5000, 16, 10, 0, 2
  'W2 laplacian p=1 d=16', 20000, 5000, 16, 10, 2, 1
  'W3 cauchy p=2 d=256',    2000, 2000, 256, 5, 3, 2
  'W4 gaussian p=3 d=16',  20000, 5000, 16, 10, 0, 3
};
printf('%-24s %16s %16s %8s %s\n', 'workload', 'vendral pairs/s', 'octave pairs/s', 'ratio', 'labels');
for w = 1:rows(workloads)
  [name, N, P, d, classes, kernel_type, p] = workloads{w, :};
  P = max(1, round(P * scale));
  [T, L, X] = workload_data(N, P, d, classes);
  h = 0.1 * sqrt(d);
  tic;
  fast = vendral(T, L, kernel_type, p, h, X, 0, 0);
  vendral_seconds = toc;
  tic;
  plain = parzen_vectorised(T, L, kernel_type, p, h, X, 0);
  octave_seconds = toc;
  printf('%-24s %16.3g %16.3g %7.1fx %d of %d equal\n', name, N * P / vendral_seconds, ...
         N * P / octave_seconds, octave_seconds / vendral_seconds, sum(fast == plain), P);
end
