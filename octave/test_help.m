% help vendral shows the whole user text next to the compiled module, and
% the example in it runs as written with the stated result.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);

expect (strcmp (which ('vendral'), fullfile (build_dir, 'vendral.mex')), ...
        'calls go to %s, not to the compiled module', which ('vendral'));
text = evalc ('help vendral');
expect (~isempty (strfind (text, 'vendral.mex')), 'help names the module file:\n%s', text);

required = {
  % usage
  'labels = vendral (Templates, NLabels, kernel_type, norm_type, h, ...'
  'Patterns, unknown_label, oflag)'
  % every argument with its range
  'Templates      N-by-d real matrix of class double'
  'NLabels        N-by-1 or 1-by-N vector of class double'
  'within -2147483648 .. 2147483647'
  'kernel_type    scalar 0, 1, 2 or 3'
  'norm_type      scalar p >= 1, Inf allowed'
  'h              scalar > 0: the window width.'
  'Patterns       P-by-d real matrix of class double, the same d as'
  'unknown_label  scalar, truncated toward zero'
  'oflag          scalar 0, 1, 2 or 3'
  % kernels and their formulas
  '0  gaussian       exp(-u^2/2)'
  '1  squared sinc   (sin(v)/v)^2 with v = x/(2h); value 1 at x = 0'
  '2  laplacian      exp(-u)'
  '3  cauchy         1/(1+u^2)'
  'u = x/h'
  % norms
  'p = 1          sum(abs(a - b))                 "min-norm"'
  'p = 2          sum(abs(a - b).^2)^(1/2)        "euclidian-norm"'
  'p = Inf        max(abs(a - b))                 "max-norm"'
  'other p >= 1   sum(abs(a - b).^p)^(1/p)        Minkowski (no name)'
  % tie rule and output
  'When the highest kernel sum is shared by two or more classes, the'
  'pattern gets unknown_label'
  'labels         P-by-1 column vector of doubles'
  % verbosity levels
  'oflag 0  nothing.'
  'oflag 1  the performance summary after the run:'
  'oflag 2  adds, before the summary, the number of reference classes,'
  'oflag 3  adds "Pattern #n is being presented" before each pattern.'
  'Example'
  % what a user would otherwise find out the hard way
  'Labels are truncated toward zero: 1.2 and 1.7 are one'
  '[~, ~, y] = unique (labels)'
  '(a vector h classifies with h(1) only)'
  'Complex arrays are read by their'
  'real parts'
  'A pattern for which any class score is NaN'
  'counts as unclassified.  With norm_type Inf the maximum skips a NaN'
  '"vendral: failed to allocate N bytes of memory" (no identifier)'
  % documentation, licence
  'doc/README.md in the package''s folder'
  'BSD-3-Clause licence'
};
for k = 1:numel (required)
  expect (~isempty (strfind (text, required{k})), ...
          'help vendral lacks "%s":\n%s', required{k}, text);
end

% Every identifier of the message table, and the version of the CMake project.
messages = message_table (source_dir);
for name = fieldnames (messages)'
  identifier = messages.(name{1}).identifier;
  expect (~isempty (regexp (text, ['(^|\s)' identifier '(\s|$)'], 'once')), ...
          'help vendral lacks the identifier %s', identifier);
end
version = regexp (fileread (fullfile (source_dir, 'CMakeLists.txt')), ...
                  'project\s*\(\s*vendral\s+VERSION\s+([0-9.]+)', 'tokens', 'once');
expect (~isempty (strfind (text, ['vendral ' version{1} '.'])), 'help vendral lacks "vendral %s."', ...
        version{1});

% The example: the lines after "Example" up to the sentence that follows.
lines = strsplit (text, "\n");
first = find (strcmp (strtrim (lines), 'Example'), 1) + 1;
last = first;
while last <= numel (lines) && ~isempty (regexp (lines{last}, '^    \s*\S', 'once'))
  last += 1;
end
example = strjoin (lines(first:last - 1), "\n");
expect (numel (strfind (example, ';')) >= 3, 'example not found in:\n%s', text);
cd (scratch);
printed = evalc (example);
expect_equal (labels, [1; 2; -1], 'labels of the help example');
expect_equal (printed, sprintf (['\neuclidian-norm gaussian Parzen classifier performance summary\n', ...
                                 'Test set contained 3 test patterns belonging to 2 classes\n', ...
                                 'unable to classify 1 patterns (33.333333%%)\n', ...
                                 '48 FLOPs and 7 comparisons in 0 seconds\n\n', ...
                                 'labels =\n\n   1\n   2\n  -1\n\n']), ...
              'console of the help example');

% Every user function documents itself with an example.
for name = {'build_vendral', 'vendral_demo', 'vendral_select_h', 'vendral_parallel', ...
            'vendral_iris'}
  function_text = evalc (sprintf ('help %s', name{1}));
  expect (~isempty (strfind (function_text, 'Example')), 'help %s has no example', name{1});
  expect (~isempty (strfind (function_text, ['= ' name{1}])) || ...
          ~isempty (strfind (function_text, [name{1} ' ('])), ...
          'help %s has no usage line', name{1});
end

% Without the compiled module beside it, the help file says what is missing.
copyfile (fullfile (source_dir, 'octave', 'inst', 'vendral.m'), scratch);
rmpath (build_dir);
addpath (scratch);
clear -f vendral
expect_error ('vendral (1, 2, 3, 4, 5, 6, 7, 8);', ...
              sprintf (['vendral: the compiled module vendral.mex is not in %s; ', ...
                        'run build_vendral or install the vendral package'], scratch), ...
              'help file without module');
printf ('octave_help: all checks passed\n');
