% A pattern with a NaN class score cannot be classified: its label is
% unknown_label, it counts as unclassified in the summary and prints its
% "could not be classified" line. Under p = Inf a NaN difference is skipped
% by the maximum, so no score is NaN there.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);
cd (scratch);

% Class 3's only template has a NaN feature; the patterns sit on classes 1 and 2.
T = [0 0; 1 1; NaN 5; 2 2];
L = [1; 2; 3; 4];
X = [0 0; 1 1];
kernels = {'gaussian', 'squared sinc', 'laplacian', 'cauchy'};
weights = [4 5 2 4];
norms = {1, 'min-norm'; 2, 'euclidian-norm'; 3, ''};
for k = 0:3
  for n = 1:rows (norms)
    p = norms{n, 1};
    what = sprintf ('%s, p = %d', kernels{k + 1}, p);
    labels = vendral (T, L, k, p, 1, X, -2, 0);
    expect_equal (labels, [-2; -2], [what ': labels']);
    text = evalc ('labels = vendral (T, L, k, p, 1, X, -2, 2);');
    text = regexprep (text, 'in [0-9]+ seconds', 'in 0 seconds');
    % 8 kernel calls; 4 comparisons per pattern, no equality (after the NaN
    % every class takes over).
    expected = sprintf (['\nReference pattern set consists of 4 classes.\n\n' ...
                         '\nList presentation of 2 patterns:\n' ...
                         '   Pattern #1 could not be classified\n' ...
                         '   Pattern #2 could not be classified\n' ...
                         '\n%s %s Parzen classifier performance summary\n' ...
                         'Test set contained 2 test patterns belonging to 4 classes\n' ...
                         'unable to classify 2 patterns (100.000000%%)\n' ...
                         '%d FLOPs and 8 comparisons in 0 seconds\n\n'], ...
                        norms{n, 2}, kernels{k + 1}, 8 * weights(k + 1));
    expect_equal (text, expected, [what ': console at oflag 2']);
  end
  % Under the maximum the NaN difference is skipped: (NaN, 5) is 5 from the
  % first pattern and 4 from the second, and both are classified.
  what = sprintf ('%s, p = Inf', kernels{k + 1});
  expect_equal (vendral (T, L, k, Inf, 1, X, -2, 0), [1; 2], [what ': labels']);
  text = evalc ('labels = vendral (T, L, k, Inf, 1, X, -2, 2);');
  expect (! isempty (strfind (text, '   Pattern #2 classified as ''2''')), '%s: console %s', what, text);
  expect (isempty (strfind (text, 'unable to classify')), '%s: console %s', what, text);
end

% A NaN pattern spoils every class's score.
expect_equal (vendral ([0 0; 1 1], [1; 2], 0, 2, 1, [NaN 0; 0 0], -7, 0), [-7; 1], 'NaN pattern');
% With one class, too: a NaN score is never a classification.
expect_equal (vendral ([0 0; 1 1], [5; 5], 3, 1, 1, [NaN 0], -7, 0), -7, 'NaN pattern, one class');
printf ('NaN scores: all checks passed\n');
