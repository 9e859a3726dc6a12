% Large-input check: classifies P random patterns against N random templates of
% d columns and reports the time and the memory the module adds to Octave's.
% Usage: octave-cli --eval "build_dir = 'build'; source('octave/large_input.m')"
% Optional variables set before sourcing: N, P, d, kernel_type, norm_type, and
% enforce_memory_bound (default true; false only reports the memory figures).
%
% Memory: Octave's peak resident set (VmHWM) is reset through
% /proc/self/clear_refs just before the call, once the arguments exist; the
% peak reached during the call minus the resident set before it is what the
% call added. It is compared with twice the working copies (Templates, NLabels
% and Patterns as doubles plus one row pointer per matrix row) plus the result.
1;

function value = status_kib(field)
  text = fileread('/proc/self/status');
  token = regexp(text, [field ':\s*(\d+)'], 'tokens', 'once');
  value = str2double(token{1});
end

function reset_peak_rss()
  fid = fopen('/proc/self/clear_refs', 'w');
  fprintf(fid, '5');
  fclose(fid);
end

addpath(build_dir);
if ~exist('N', 'var'), N = 100000; end
if ~exist('P', 'var'), P = 20000; end
if ~exist('d', 'var'), d = 8; end
if ~exist('kernel_type', 'var'), kernel_type = 0; end
if ~exist('norm_type', 'var'), norm_type = 1; end
if ~exist('enforce_memory_bound', 'var'), enforce_memory_bound = true; end

rand('state', 1);
Templates = rand(N, d);
NLabels = floor(rand(N, 1) * 5) + 1;
Patterns = rand(P, d);
h = 0.5;

pointer_bytes = 8;
working_bytes = 8 * (N * d + N + P * d) + pointer_bytes * (N + P);
result_bytes = 8 * P;
allowed_bytes = 2 * (working_bytes + result_bytes);

warm = vendral([0; 1], [1; 2], 0, 1, 1, 0.2, -1, 0);  % loads the module before measuring
rss_before = status_kib('VmRSS');
reset_peak_rss();
tic;
labels = vendral(Templates, NLabels, kernel_type, norm_type, h, Patterns, -1, 0);
seconds = toc;
peak = status_kib('VmHWM');
added_bytes = (peak - rss_before) * 1024;

printf('large input: N = %d, P = %d, d = %d, kernel %d, p = %g: %.1f s (%.3g template-pattern pairs/s)\n', ...
       N, P, d, kernel_type, norm_type, seconds, N * P / seconds);
printf('large input: memory added %.1f MB; working copies %.1f MB + result %.1f MB; allowed %.1f MB\n', ...
       added_bytes / 1e6, working_bytes / 1e6, result_bytes / 1e6, allowed_bytes / 1e6);
within_bound = added_bytes <= allowed_bytes;
if ~within_bound
  printf('large input: the call added more than twice its working copies plus the result\n');
end
if isequal(size(labels), [P 1]) && all(ismember(labels, 1:5)) && (within_bound || ~enforce_memory_bound)
  printf('large input: passed\n');
else
  printf('large input: FAILED\n');
  exit(1);
end
