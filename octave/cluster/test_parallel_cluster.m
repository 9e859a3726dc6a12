% The cluster example of docs/octave.md, run as written on the client
% against the servers node1 and node2: vendral_parallel loads the package the
% servers installed, and gives the labels and console of one vendral call.
% Arguments: the folder lab.sh filled (testing/, octave.md) and the
% package file (in the current folder).
1;
command_line = argv ();
[lab, package_file] = command_line{end - 1:end};
addpath (fullfile (lab, 'testing'));
pkg ('install', package_file);

guide = fileread (fullfile (lab, 'octave.md'));
blocks = regexp (guide, '```octave\n(.*?)```', 'tokens');
example = blocks(~cellfun (@isempty, strfind (cellfun (@(b) b{1}, blocks, 'UniformOutput', false), ...
                                               'pconnect')));
expect (numel (example) == 1, 'the guide has %d cluster examples', numel (example));
tic;
cluster_console = evalc (example{1}{1});
printf ('the guide''s cluster example took %.1f s\n', toc);

one_call = evalc ('one_labels = vendral (X, y, 0, 2, 0.5, X, -1, 1);');
expect_equal (labels, one_labels, 'labels from the cluster');
strip = @(text) regexprep (text, 'comparisons in \d+ seconds', 'comparisons in S seconds');
expect_equal (strip (cluster_console), strip (one_call), 'console from the cluster');

% The cluster example of help vendral_parallel, as written.
help_lines = strsplit (evalc ('help vendral_parallel'), "\n");
first = find (~cellfun (@isempty, strfind (help_lines, 'Example (a cluster')), 1);
first = first + find (~cellfun (@isempty, regexp (help_lines(first + 1:end), '^\s+pkg load parallel', 'once')), 1);
last = first;
while last <= numel (help_lines) && ~isempty (regexp (help_lines{last}, '^    \s*\S', 'once'))
  last += 1;
end
help_example = strjoin (help_lines(first:last - 1), "\n");
expect (~isempty (strfind (help_example, 'sclose (pool)')), 'help example not found:\n%s', help_example);
clear labels
evalc (help_example);
expect_equal (labels, one_labels, 'labels from the help example''s cluster');

% Both servers took part, with the module of their installed packages.
pool = pconnect ({'node1', 'node2'}, struct ('use_tls', false));
info = network_get_info (pool);
expect_equal ({info(2:3).peername}, {'node1', 'node2'}, 'servers connected');
expect_equal (counts.blocks, sum ([info(2:3).nproc]), 'one block per server core');
other = vendral_parallel (X, y, 3, 1, 0.3, X(1:2:end, :) + 0.1, 0, 0, pool);
expect_equal (other, vendral (X, y, 3, 1, 0.3, X(1:2:end, :) + 0.1, 0, 0), 'second cluster run');
% vendral_parallel loaded the package in these server sessions; netcellfun
% hands each server as many jobs as it has cores.
jobs = num2cell ((1:counts.blocks)');
where = netcellfun (pool, @(k) {gethostname(), which('vendral')}, jobs, 'UniformOutput', false);
hosts = unique (cellfun (@(w) w{1}, where, 'UniformOutput', false));
expect_equal (hosts, {'node1'; 'node2'}, 'hosts that ran the jobs');
for k = 1:numel (where)
  expect (~isempty (regexp (where{k}{2}, '^/tmp/home_node[12]/.*/vendral-[0-9.]+/vendral\.mex$', 'once')), ...
          'server module %s is not the installed package', where{k}{2});
end
sclose (pool);
printf ('octave_parallel_cluster: all checks passed\n');
