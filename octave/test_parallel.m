% vendral_parallel with local worker processes (parcellfun) gives exactly
% the labels, console output and errors of one vendral call, and sums the
% counts of its blocks.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);
cd (scratch);
pkg load parallel

% One call's console without its seconds, which may differ.
function text = without_seconds (text)
  text = regexprep (text, 'comparisons in \d+ seconds', 'comparisons in S seconds');
end

[X, y] = vendral_iris ();
% Patterns with ties: midpoints between a setosa and a versicolor template
% that are alone in their classes' reach, plus Iris itself.
tie_templates = [0 0; 0 1; 5 5; 5 6];
tie_labels = [1; 1; 2; 2];
tie_patterns = [0 0.5; 5 5.5; 2.5 3; 2.5 3; 40 40; 1 1];

cases = {
  {X, y, 0, 2, 0.5, X, -1, 2}
  {X, y, 1, 1, 0.3, X(end:-1:1, :) + 0.01, 0, 3}
  {X, y, 2, Inf, 0.2, X(1:7, :), 9, 1}
  {X, y, 3, 3, 0.7, X(1:3:end, :), -5, 0}
  {tie_templates, tie_labels, 0, 2, 1, tie_patterns, -1, 2}
  {tie_templates, tie_labels', 0, 2, 1, tie_patterns(1, :), -1, 1}
  {tie_templates, tie_labels, 0, 2, 1, zeros(0, 2), -1, 2}
};
for k = 1:numel (cases)
  args = cases{k};
  one_call = evalc ('one_labels = vendral (args{:});');
  for workers = [1 2 3]
    tic;
    parallel_console = evalc ('[split, counts] = vendral_parallel (args{:}, workers);');
    elapsed = toc;
    what = sprintf ('case %d with %d workers', k, workers);
    expect_equal (split, one_labels, ['labels of ' what]);
    expect_equal (without_seconds (parallel_console), without_seconds (one_call), ...
                  ['console of ' what]);
    P = rows (args{6});
    expect_equal (counts.patterns, P, ['pattern count of ' what]);
    expect_equal (counts.unclassified, sum (one_labels == fix (args{7})), ['unclassified of ' what]);
    expect (counts.blocks == min (max (P, 1), min (workers, nproc ())), ...
            '%d blocks for %s', counts.blocks, what);
    summary = evalc ('unused = vendral (args{1:7}, 1);');
    figures = regexp (summary, '(\d+) FLOPs and (\d+) comparisons', 'tokens', 'once');
    expect_equal ([counts.flops; counts.comparisons], str2double (figures(:)), ['counts of ' what]);
    expect (counts.seconds <= elapsed + 1, 'seconds %d for %s', counts.seconds, what);
  end
end

% The default pool is nproc () workers.
[split, counts] = vendral_parallel (X, y, 0, 2, 0.5, X, -1, 0);
expect_equal (split, vendral (X, y, 0, 2, 0.5, X, -1, 0), 'labels with the default pool');
expect_equal (counts.blocks, nproc (), 'blocks of the default pool');

% Bad arguments: the same error as one call, raised before any worker runs.
bad = {
  {X, y, 4, 2, 0.5, X, -1, 0}
  {X, y, 0, 0.5, 0.5, X, -1, 0}
  {X, y, 0, 2, 0, X, -1, 0}
  {X, y(1:10), 0, 2, 0.5, X, -1, 0}
  {X, y, 0, 2, 0.5, X(:, 1:3), -1, 0}
  {X, y, 0, 2, 0.5, X(:, 1:3), -1, 7}
  {X, y, 0, 2, 0.5, single(X), -1, 0}
  {X, y, 0, 2, 0.5, X, NaN, 0}
  {X, y, 0, 2, 0.5, X, -1, 4}
  {ones(2, 2, 2), y, 0, 2, 0.5, X, -1, 0}
};
for k = 1:numel (bad)
  args = bad{k};
  expected = '';
  try
    unused = vendral (args{:});
  catch failure
    expected = failure.message;
  end
  expect (~isempty (expected), 'bad case %d passed vendral', k);
  expect_error ('unused = vendral_parallel (args{:}, 2);', expected, sprintf ('bad case %d', k));
end
expect_error ('vendral_parallel (X, y, 0, 2, 0.5, X, -1, 0, 2);', ...
              'vendral: VENDRAL: 1 output argument required.', 'no output variable');
expect_error ('unused = vendral_parallel (X, y, 0, 2, 0.5, X, -1, 0, 0);', ...
              ['vendral_parallel: pool must be a whole number of workers >= 1 ', ...
               'or connections from pconnect'], 'pool of 0');
expect_error ('unused = vendral_parallel (X, y, 0, 2, 0.5, X, -1);', ...
              ['vendral_parallel: usage: labels = vendral_parallel (Templates, NLabels, ', ...
               'kernel_type, norm_type, h, Patterns, unknown_label, oflag, pool)'], ...
              'seven arguments');

% The example of the help text runs as written.
help_text = evalc ('help vendral_parallel');
lines = strsplit (help_text, "\n");
first = find (~cellfun (@isempty, strfind (lines, 'Example (two local worker processes)')), 1) + 1;
last = first;
while last <= numel (lines) && ~isempty (regexp (lines{last}, '^    \s*\S', 'once'))
  last += 1;
end
printed = evalc (strjoin (lines(first:last - 1), "\n"));
expect (~isempty (strfind (printed, 'ans = 1')), 'help example did not print ans = 1:\n%s', printed);
printf ('octave_parallel_local: all checks passed\n');
