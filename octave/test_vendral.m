% Tests of vendral.mex in Octave: messages, results, console text.
% Usage: octave-cli --eval "build_dir = 'build'; source('octave/test_vendral.m')"
1;

function check(condition, name)
  global passed failed
  if condition
    passed += 1;
  else
    failed += 1;
    printf('FAILED: %s\n', name);
  end
end

% The call must raise the message of row `id` of host/messages.h, formatted
% with `values`, under its identifier.
function check_error(id, values, name, varargin)
  global messages
  row = messages.(id);
  expected = ['vendral: ' sprintf(row.text, 'VENDRAL', values{:})];
  try
    labels = vendral(varargin{:});
    check(false, [name ': no error raised']);
  catch err
    check(strcmp(err.message, expected), ...
          sprintf('%s: got "%s", expected "%s"', name, err.message, expected));
    check(strcmp(err.identifier, row.identifier), ...
          sprintf('%s: identifier "%s", expected "%s"', name, err.identifier, row.identifier));
  end
end

global passed failed messages
source_dir = fileparts(fileparts(mfilename('fullpath')));
addpath(fullfile(source_dir, 'octave', 'testing'));
messages = message_table(source_dir);
passed = 0;
failed = 0;
addpath(build_dir);

T = [0 0; 1 1; 5 5];
L = [1; 1; 2];
X = [0 1; 4 4];

% Messages: every one the module raises in Octave, by its text and its
% identifier. (An allocation failure shows Octave's own message instead:
% octave/test_allocation_failure.m.)
check_error('input_count', {8}, 'seven arguments', T, L, 0, 2, 1, X, -1);
check_error('templates_dimensions', {}, 'Templates 3-D', ones(2, 2, 2), L, 0, 2, 1, X, -1, 0);
check_error('templates_class', {}, 'Templates single', single(T), L, 0, 2, 1, X, -1, 0);
check_error('templates_class', {}, 'Templates sparse', sparse(T), L, 0, 2, 1, X, -1, 0);
check_error('templates_too_large', {}, 'Templates beyond 32 bits', zeros(2^31, 0), L, 0, 2, 1, X, -1, 0);
check_error('labels_dimensions', {}, 'NLabels 3-D', T, ones(3, 1, 2), 0, 2, 1, X, -1, 0);
check_error('labels_class', {}, 'NLabels int32', T, int32(L), 0, 2, 1, X, -1, 0);
check_error('labels_shape', {3, 3}, 'NLabels too short', T, [1; 2], 0, 2, 1, X, -1, 0);
check_error('labels_shape', {2, 2}, 'Templates transposed', T', L, 0, 2, 1, X, -1, 0);
check_error('labels_values', {}, 'NLabels NaN', T, [1; NaN; 2], 0, 2, 1, X, -1, 0);
check_error('kernel_type_scalar', {}, 'kernel_type function handle', T, L, @sin, 2, 1, X, -1, 0);
check_error('kernel_type_scalar', {}, 'kernel_type cell', T, L, {1}, 2, 1, X, -1, 0);
check_error('kernel_type_range', {3}, 'kernel_type 4', T, L, 4, 2, 1, X, -1, 0);
check_error('norm_type_scalar', {}, 'norm_type empty', T, L, 0, [], 1, X, -1, 0);
check_error('norm_type_range', {}, 'norm_type 0.999', T, L, 0, 0.999, 1, X, -1, 0);
check_error('h_scalar', {}, 'h 2x2', T, L, 0, 2, eye(2), X, -1, 0);
check_error('h_range', {}, 'h 0', T, L, 0, 2, 0, X, -1, 0);
check_error('h_range', {}, 'h NaN', T, L, 0, 2, NaN, X, -1, 0);
check_error('patterns_dimensions', {}, 'Patterns 3-D', T, L, 0, 2, 1, ones(2, 2, 2), -1, 0);
check_error('patterns_too_large', {}, 'Patterns beyond 32 bits', T, L, 0, 2, 1, zeros(0, 2^31), -1, 0);
check_error('patterns_class', {}, 'Patterns logical', T, L, 0, 2, 1, X > 1, -1, 0);
check_error('patterns_columns', {7, 2}, 'Patterns columns', T, L, 0, 2, 1, zeros(7, 3), -1, 0);
check_error('patterns_columns', {2, 2}, 'Patterns transposed', T, L, 0, 2, 1, [0 1 4; 1 4 4], -1, 0);
check_error('unknown_label_scalar', {}, 'unknown_label a struct', T, L, 0, 2, 1, X, struct(), 0);
check_error('unknown_label_range', {}, 'unknown_label Inf', T, L, 0, 2, 1, X, Inf, 0);
check_error('oflag_scalar', {}, 'oflag empty', T, L, 0, 2, 1, X, -1, zeros(1, 0));
check_error('oflag_range', {}, 'oflag -1', T, L, 0, 2, 1, X, -1, -1);
try
  vendral(T, L, 0, 2, 1, X, -1, 0);
  check(false, 'no result variable: no error raised');
catch err
  check(strcmp(err.message, ['vendral: ' sprintf(messages.output_count.text, 'VENDRAL', 1)]), ...
        'no result variable');
  check(strcmp(err.message, 'vendral: VENDRAL: 1 output argument required.'), ...
        'no result variable, the text as documented');
  check(strcmp(err.identifier, 'vendral:nlhs'), ['no result variable: ' err.identifier]);
end
try
  [a, b] = vendral(T, L, 0, 2, 1, X, -1, 0);
  check(false, 'two results: no error raised');
catch err
  check(strcmp(err.identifier, messages.output_count.identifier), ['two results: ' err.identifier]);
end
% Caught by kind, as a caller would.
try
  labels = vendral(T, L, 0, 2, -1, X, -1, 0);
catch err
  switch err.identifier
    case 'vendral:h'
      check(true, 'h caught by identifier');
    otherwise
      check(false, ['h caught as ' err.identifier]);
  end
end

% Results.
labels = vendral([0; 1; 3], [1; 1; 2], 0, 1, 1, 0, -1, 0);
check(isequal(labels, 1), 'worked example');
labels = vendral(T, L, 0, 2, 1, X, -1, 0);
check(isequal(labels, [1; 2]) && strcmp(class(labels), 'double'), 'two patterns, column of doubles');
text = evalc('labels = vendral(T, L'', 3.9, Inf, 1, [0 0], -1, [3.7 9 9]);');
check(isequal(labels, 1), 'row labels, truncated scalars, 1x3 oflag');
labels = vendral(T, L, 0, 2, 1, zeros(0, 2), -1, 0);
check(isequal(size(labels), [0 1]), 'no patterns give a 0x1 result');
labels = vendral(zeros(0, 2), zeros(0, 1), 0, 2, 1, X, 7, 0);
check(isequal(labels, [7; 7]), 'no templates: every pattern unclassified');
labels = vendral([1 2; 3 2; 2 5; 2 -1], [1; 2; 2; 1], 0, 2, 0.7, [2 2], -5, 0);
check(isequal(labels, -5), 'mirrored templates tie');
labels = vendral(T + 0i, L, 0, 2, 1, X + 2i, -1, 0);
check(isequal(labels, [1; 2]), 'complex arrays by their real parts');
labels = vendral(T, L, true, 2, 1, X, int8(-1), char(0));
check(isequal(labels, [1; 2]), 'logical, integer and char scalars');

% Arguments are left as they were.
T0 = T; X0 = X;
labels = vendral(T, L, 0, 2, 1, X, -1, 0);
check(isequal(T, T0) && isequal(X, X0), 'arguments unchanged');

% Console text.
text = evalc('labels = vendral(T, L, 0, 2, 1, X, -1, 0);');
check(isempty(text), 'oflag 0 prints nothing');
text = evalc('labels = vendral(T, L, 0, 2, 1, [X; 2.5 2.5], -1, 3);');
text = regexprep(text, 'in [0-9]+ seconds', 'in 0 seconds');
expected = sprintf(['\nReference pattern set consists of 2 classes.\n\n' ...
                    '\nList presentation of 3 patterns:\n' ...
                    '   Pattern #1 is being presented\n   Pattern #1 classified as ''1''\n' ...
                    '   Pattern #2 is being presented\n   Pattern #2 classified as ''2''\n' ...
                    '   Pattern #3 is being presented\n   Pattern #3 classified as ''1''\n' ...
                    '\neuclidian-norm gaussian Parzen classifier performance summary\n' ...
                    'Test set contained 3 test patterns belonging to 2 classes\n' ...
                    '36 FLOPs and 6 comparisons in 0 seconds\n\n']);
check(strcmp(text, expected), ['oflag 3 console: ' text]);
text = evalc('labels = vendral([0; 10], [1; 2], 2, 1, 1, [5; 0], 0, 1);');
text = regexprep(text, 'in [0-9]+ seconds', 'in 0 seconds');
expected = sprintf(['\nmin-norm laplacian Parzen classifier performance summary\n' ...
                    'Test set contained 2 test patterns belonging to 2 classes\n' ...
                    'unable to classify 1 patterns (50.000000%%)\n' ...
                    '8 FLOPs and 5 comparisons in 0 seconds\n\n']);
check(strcmp(text, expected), ['summary with unclassified: ' text]);

printf('%d passed, %d failed\n', passed, failed);
exit(failed > 0);
