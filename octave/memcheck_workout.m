% Calls for the memory checker beyond the Octave tests: enough patterns for
% several engine threads, every kernel and distance regime, full verbosity,
% extreme values, empty matrices, and failing calls whose error unwinds
% through the module. Prints a FAILED line for any unexpected outcome.
% Usage: octave-cli --eval "build_dir = 'build'; source('octave/memcheck_workout.m')"
addpath(build_dir);
rand('state', 7);
T = rand(300, 5);
L = floor(rand(300, 1) * 4) + 1;
X = rand(90, 5);
for kernel = 0:3
  for p = [1 2 3 1.5 Inf]
    labels = vendral(T, L, kernel, p, 0.3, X, -1, 0);
    if ~isequal(size(labels), [90 1]) || ~all(ismember(labels, [-1 1 2 3 4]))
      printf('FAILED: workout kernel %d, p %g\n', kernel, p);
    end
  end
end
text = evalc('labels = vendral(T, L, 1, 2, 0.3, X, -1, 3);');
if isempty(strfind(text, 'Pattern #90 is being presented'))
  printf('FAILED: workout oflag 3\n');
end
extreme = [0 -0 Inf -Inf NaN 1e308 -1e308 1e-300 4.9e-324];
labels = vendral(repmat(extreme', 1, 2), mod(1:9, 3)', 0, 2, 1e-300, repmat(extreme, 2, 1)', 7, 0);
if ~isequal(size(labels), [9 1])
  printf('FAILED: workout extreme values\n');
end
labels = vendral(zeros(0, 3), zeros(0, 1), 2, 1, 1, zeros(40, 3), 5, 1);
if ~isequal(labels, 5 * ones(40, 1))
  printf('FAILED: workout no templates\n');
end
failing = {{T, L, 9, 2, 1, X, -1, 0}, {T, L(1:5), 0, 2, 1, X, -1, 0}, {T, L, 0, 2, 1, X(:, 1:3), -1, 0}, ...
           {T, L, 0, 0.5, 1, X, -1, 0}, {single(T), L, 0, 2, 1, X, -1, 0}, {T, L, 0, 2, 1, X, -1}};
for i = 1:numel(failing)
  try
    labels = vendral(failing{i}{:});
    printf('FAILED: workout call %d raised no error\n', i);
  catch err
    if isempty(strfind(err.message, 'VENDRAL: '))
      printf('FAILED: workout call %d: %s\n', i, err.message);
    end
  end
end
printf('memcheck workout done\n');
