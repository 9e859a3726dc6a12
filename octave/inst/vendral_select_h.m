%VENDRAL_SELECT_H  Choose the window width h by k-fold cross-validation.
%
%  [best_h, errors] = vendral_select_h (Templates, NLabels, h_grid)
%  [best_h, errors, folds] = vendral_select_h (..., name, value, ...)
%
%  Splits the labelled set (Templates, NLabels) into k folds, classifies each
%  fold with vendral against the other k-1 folds for every h in h_grid, and
%  returns the widest h among those with the lowest error.
%
%    h_grid   vector of candidate widths, each > 0, e.g. logspace (-2, 1, 13).
%    best_h   the widest h of h_grid whose error is the lowest.  The error is
%             often flat over a stretch of widths; the narrowest of them sits
%             next to the widths where the kernel underflows between the
%             templates, so that new patterns away from them become ties.
%             The widest one keeps the lowest error and smooths the most.
%    errors   one value per h: the fraction of all patterns misclassified
%             when they were in the held-out fold; a pattern vendral cannot
%             classify (a tie) counts as an error.
%    folds    the fold (1..k) of each template row, for reproducing the run.
%
%  Options (name, value)
%    'folds'    k, a whole number from 2 to the number of templates;
%               default 5.
%    'kernel'   vendral's kernel_type, 0..3; default 0 (gaussian).
%    'norm'     vendral's norm_type, >= 1 or Inf; default 2.
%    'seed'     whole number that fixes the fold assignment; default 0.  The
%               same data and seed give the same folds in Octave and MATLAB;
%               the random number generators of the host are not touched.
%    'plot'     true to draw the error curve (error against h, log scale)
%               into the current figure, with the best h marked; default
%               false.
%
%  The folds are stratified: the members of every class, in a shuffled
%  order, are dealt to the folds in turn, so each fold holds nearly the same
%  share of every class.
%
%  Example (Iris data, 13 widths from 0.01 to 10)
%    [X, y] = vendral_iris ();
%    [best_h, errors] = vendral_select_h (X, y, logspace (-2, 1, 13), ...
%                                         'folds', 5, 'seed', 1);
%    fprintf ('best h = %g, cross-validated error = %.4f\n', ...
%             best_h, min (errors));
%
%  See also vendral, vendral_iris.

function [best_h, errors, folds] = vendral_select_h (Templates, NLabels, h_grid, varargin)
  if nargin < 3
    error ('vendral_select_h:usage', ...
           'vendral_select_h: usage: [best_h, errors] = vendral_select_h (Templates, NLabels, h_grid, ...)');
  end
  % First, so that Templates given d-by-N is reported as such rather than
  % as a fold count out of range.
  if size (Templates, 1) ~= numel (NLabels)
    error ('vendral_select_h:labels', ...
           'vendral_select_h: NLabels must hold one label per row of Templates');
  end
  options = read_options (varargin, size (Templates, 1));
  NLabels = NLabels(:);
  if ~isnumeric (h_grid) || isempty (h_grid) || any (~(h_grid(:) > 0))
    error ('vendral_select_h:h', 'vendral_select_h: h_grid must hold values > 0');
  end

  folds = assign_folds (NLabels, options.folds, options.seed);
  % A label that no template has marks a tie, which then counts as an error.
  unknown = min (fix (NLabels)) - 1;
  if unknown < -2147483648
    unknown = max (fix (NLabels)) + 1;
  end
  mistakes = zeros (1, numel (h_grid));
  for fold = 1:options.folds
    held_out = folds == fold;
    for k = 1:numel (h_grid)
      labels = vendral (Templates(~held_out, :), NLabels(~held_out), ...
                        options.kernel, options.norm, h_grid(k), ...
                        Templates(held_out, :), unknown, 0);
      mistakes(k) = mistakes(k) + sum (labels ~= fix (NLabels(held_out)));
    end
  end
  errors = mistakes / numel (NLabels);
  best = widest_with_lowest_error (h_grid, errors);
  best_h = h_grid(best);

  if options.plot
    draw_error_curve (h_grid, errors, best);
  end
end

% The index of the widest h among those with the lowest error, whatever the
% order of h_grid.
function best = widest_with_lowest_error (h_grid, errors)
  lowest = find (errors == min (errors));
  [~, widest] = max (h_grid(lowest));
  best = lowest(widest);
end

function options = read_options (pairs, N)
  options = struct ('folds', 5, 'kernel', 0, 'norm', 2, 'seed', 0, 'plot', false);
  if mod (numel (pairs), 2) ~= 0
    error ('vendral_select_h:options', 'vendral_select_h: options come in name, value pairs');
  end
  for k = 1:2:numel (pairs)
    name = lower (pairs{k});
    if ~ischar (name) || ~isfield (options, name)
      error ('vendral_select_h:options', 'vendral_select_h: unknown option %s', ...
             num2str (pairs{k}));
    end
    options.(name) = pairs{k + 1};
  end
  k = options.folds;
  if ~(isscalar (k) && k == fix (k) && k >= 2 && k <= N)
    error ('vendral_select_h:folds', ...
           'vendral_select_h: folds must be a whole number from 2 to %d', N);
  end
  if ~(isscalar (options.seed) && options.seed == fix (options.seed))
    error ('vendral_select_h:seed', 'vendral_select_h: seed must be a whole number');
  end
end

% Stratified assignment from our own generator (Park-Miller minimal
% standard, exact in doubles), so results do not depend on the host's RNG.
function folds = assign_folds (labels, k, seed)
  N = numel (labels);
  state = mod (abs (seed), 2147483646) + 1;
  keys = zeros (N, 1);
  for i = 1:N
    state = mod (16807 * state, 2147483647);
    keys(i) = state;
  end
  folds = zeros (N, 1);
  next_fold = 0;
  classes = unique (labels);
  for c = 1:numel (classes)
    members = find (labels == classes(c));
    [~, order] = sort (keys(members));
    for m = members(order)'
      folds(m) = next_fold + 1;
      next_fold = mod (next_fold + 1, k);
    end
  end
end

function draw_error_curve (h_grid, errors, best)
  if exist ('OCTAVE_VERSION', 'builtin')
    quiet = warning ('off', 'Octave:gnuplot-graphics');
    restore_warning = onCleanup (@() warning (quiet));
  end
  semilogx (h_grid, errors, 'o-', h_grid(best), errors(best), 'r*', ...
            'MarkerSize', 8);
  xlabel ('window width h');
  ylabel ('cross-validated error');
  title (sprintf ('best h = %g, error %.4f', h_grid(best), errors(best)));
  grid on;
end
