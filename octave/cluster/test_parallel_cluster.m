% vendral_parallel over two cluster servers (netcellfun): each server has
% the vendral package installed, which vendral_parallel loads there; the
% labels and console are those of one vendral call.
1;
here = fileparts (mfilename ('fullpath'));
addpath (fullfile (here, '..', 'testing'));
build_dir = argv (){end};
addpath (build_dir);
pkg load parallel

pool = pconnect ({'vnodea', 'vnodeb'}, struct ('use_tls', false));
info = network_get_info (pool);
expect_equal ({info(2:3).peername}, {'vnodea', 'vnodeb'}, 'servers connected');

[X, y] = vendral_iris ();
one_call = evalc ('one_labels = vendral (X, y, 0, 2, 0.5, X, -1, 2);');
tic;
cluster_console = evalc ('[labels, counts] = vendral_parallel (X, y, 0, 2, 0.5, X, -1, 2, pool);');
printf ('vendral_parallel on two servers took %.1f s\n', toc);
expect_equal (labels, one_labels, 'labels from the cluster');
strip = @(text) regexprep (text, 'comparisons in \d+ seconds', 'comparisons in S seconds');
expect_equal (strip (cluster_console), strip (one_call), 'console from the cluster');
expect_equal (counts.blocks, sum ([info(2:3).nproc]), 'one block per server core');

% The work ran on both servers, with the module their packages installed.
% netcellfun hands each server as many jobs as it has cores.
jobs = num2cell ((1:counts.blocks)');
where = netcellfun (pool, @(k) {gethostname(), which('vendral')}, jobs, ...
                    'UniformOutput', false);
hosts = unique (cellfun (@(w) w{1}, where, 'UniformOutput', false));
expect_equal (hosts, {'vnodea'; 'vnodeb'}, 'hosts that ran the jobs');
for k = 1:numel (where)
  expect (~isempty (regexp (where{k}{2}, '^/tmp/home_vnode[ab]/.*/vendral-[0-9.]+/vendral\.mex$', 'once')), ...
          'server module %s is not the installed package', where{k}{2});
end

other = vendral_parallel (X, y, 3, 1, 0.3, X(1:2:end, :) + 0.1, 0, 0, pool);
expect_equal (other, vendral (X, y, 3, 1, 0.3, X(1:2:end, :) + 0.1, 0, 0), 'second cluster run');
sclose (pool);
printf ('octave_parallel_cluster: all checks passed\n');
