% vendral_select_h: deterministic stratified folds, the error per h equal to
% a cross-validation done by hand with the same folds, the best h, the Iris
% example of its help, and the error curve.
1;
% The cross-validation error per h computed directly with the given folds;
% ties (label 0) count as errors.
function errors = errors_by_hand (X, y, folds, grid, kernel, norm_type)
  errors = zeros (size (grid));
  for k = 1:numel (grid)
    for fold = 1:max (folds)
      test = folds == fold;
      labels = vendral (X(~test, :), y(~test), kernel, norm_type, grid(k), X(test, :), 0, 0);
      errors(k) += sum (labels ~= y(test));
    end
  end
  errors /= numel (y);
end
function value = nth_output (n, f, varargin)
  outputs = cell (1, n);
  [outputs{:}] = f (varargin{:});
  value = outputs{n};
end
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);
cd (scratch);

[X, y] = vendral_iris ();
grid = logspace (-2, 1, 13);
tic;
[best_h, errors, folds] = vendral_select_h (X, y, grid, 'folds', 5, 'seed', 1);
printf ('13 widths x 5 folds on Iris took %.2f s\n', toc);

% Folds: all of 1..5, stratified (each class split 10/10/10/10/10).
expect_equal (size (folds), [150 1], 'fold vector size');
for c = 1:3
  expect_equal (accumarray (folds(y == c), 1)', [10 10 10 10 10], ...
                sprintf ('class %d per fold', c));
end
% Deterministic for a seed, and the seed matters.
[~, errors_again, folds_again] = vendral_select_h (X, y, grid, 'folds', 5, 'seed', 1);
expect_equal (folds_again, folds, 'folds for the same seed');
expect_equal (errors_again, errors, 'errors for the same seed');
[~, ~, other_folds] = vendral_select_h (X, y, grid, 'folds', 5, 'seed', 2);
expect (~isequal (other_folds, folds), 'seed 2 gives the folds of seed 1');

% The same errors by hand, counting ties (label 0) as errors.
expect_equal (errors, errors_by_hand (X, y, folds, grid, 0, 2), ...
              'errors against a hand-made cross-validation');
lowest = min (errors);
expect_equal (best_h, max (grid(errors == lowest)), 'best h is the widest with the lowest error');
expect (lowest <= 0.06, 'Iris cross-validated error %.4f', lowest);

% The rule on a flat stretch: on the even-numbered flowers several widths
% share the lowest error; the widest of them is chosen, not the first, and
% in any order of the grid.
train = 1:2:150;
[flat_h, flat_errors] = vendral_select_h (X(train, :), y(train), grid, 'folds', 5, 'seed', 1);
tied = find (flat_errors == min (flat_errors));
expect (numel (tied) >= 2, 'no flat stretch at the lowest error: %s', mat2str (flat_errors, 4));
expect_equal (flat_errors, errors_by_hand (X(train, :), y(train), ...
                                           nth_output (3, @vendral_select_h, X(train, :), y(train), ...
                                                       grid, 'folds', 5, 'seed', 1), grid, 0, 2), ...
              'errors on the flat stretch against a hand-made cross-validation');
expect_equal (flat_h, grid(tied(end)), 'the widest of the tied widths');
expect (flat_h > grid(tied(1)), 'the narrowest tied width was chosen');
reversed_h = vendral_select_h (X(train, :), y(train), fliplr (grid), 'folds', 5, 'seed', 1);
expect_equal (reversed_h, flat_h, 'the widest tied width with the grid reversed');

% Templates given d-by-N are reported as such, not as a fold count.
expect_error ('vendral_select_h (X'', y, grid);', ...
              'vendral_select_h: NLabels must hold one label per row of Templates', 'transposed Templates');
% At h = 0.01 the gaussian underflows between classes: many ties.
expect (errors(1) > 0.1, 'error at h = 0.01 is %.4f', errors(1));

% Kernel and norm options reach vendral.
[~, laplacian_errors, laplacian_folds] = vendral_select_h (X, y, [0.2 1], 'kernel', 2, ...
                                                         'norm', 1, 'folds', 3);
expect_equal (laplacian_errors, errors_by_hand (X, y, laplacian_folds, [0.2 1], 2, 1), ...
              'laplacian min-norm errors');

% The example of the help text runs as written; the help states the rule.
help_text = evalc ('help vendral_select_h');
expect (~isempty (strfind (help_text, 'the widest h of h_grid whose error is the lowest')), ...
        'help vendral_select_h does not state the rule:\n%s', help_text);
lines = strsplit (help_text, "\n");
first = find (~cellfun (@isempty, strfind (lines, 'Example (Iris data')), 1) + 1;
last = first;
while last <= numel (lines) && ~isempty (regexp (lines{last}, '^    \s*\S', 'once'))
  last += 1;
end
printed = evalc (strjoin (lines(first:last - 1), "\n"));
expect_equal (printed, sprintf ('best h = %g, cross-validated error = %.4f\n', best_h, lowest), ...
              'output of the help example');

% The error curve, drawn headless.
quiet = warning ('off', 'Octave:gnuplot-graphics');
figure_handle = figure ('visible', 'off');
vendral_select_h (X, y, grid, 'seed', 1, 'plot', true);
curve = findobj (gca (), 'type', 'line');
plotted = get (curve, 'ydata');
expect (any (cellfun (@(data) isequal (data, errors), plotted)), 'error curve not drawn');
print (figure_handle, '-dpng', fullfile (scratch, 'error_curve.png'));
expect (exist (fullfile (scratch, 'error_curve.png'), 'file') == 2, 'error curve not printed');
close (figure_handle);
warning (quiet);

expect_error ('vendral_select_h (X, y, grid, ''folds'', 1);', ...
              'vendral_select_h: folds must be a whole number from 2 to 150', 'one fold');
expect_error ('vendral_select_h (X, y, [0.1 0]);', ...
              'vendral_select_h: h_grid must hold values > 0', 'h of 0');
expect_error ('vendral_select_h (X, y, grid, ''bins'', 3);', ...
              'vendral_select_h: unknown option bins', 'unknown option');
printf ('octave_select_h: all checks passed\n');
